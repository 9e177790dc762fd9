#!/usr/bin/env bash
# Runs Windows programs under Wine, in a Wine prefix and an X server that belong to one build
# tree (WINE_SESSION_DIR), never the user's ~/.wine. 64-bit programs run under wine64, 32-bit
# ones under Wine's 32-bit loader, in the same prefix, by one of two routes:
#   native    the kernel runs the 32-bit loader itself (Debian's wine32:i386);
#   emulated  where the kernel cannot run 32-bit programs (IA32 emulation off), the same loader
#             runs under qemu-i386 user-mode emulation (tools/wine32-emulated/).
# The route is native where the kernel runs 32-bit programs; WINE32_ROUTE=emulated (or native)
# chooses it instead, so that either can be tried on any machine.
#
#   wine-session.sh start         make the prefix if needed, start Xvfb and a persistent wineserver
#   wine-session.sh stop          end both
#   wine-session.sh run EXE ARGS  run one program in the session, starting the session first if
#                                 needed; a 32-bit program where 32-bit Wine cannot run one exits
#                                 with 77 (CTest's skip) after saying why
#   wine-session.sh env           print the session's environment as shell assignments
#   wine-session.sh route         print the 32-bit route: native or emulated
#   wine-session.sh why-no-32bit  say why 32-bit programs cannot run (exit 1), or nothing (exit 0):
#                                 in the session when WINE_SESSION_DIR is set (starting it),
#                                 else what this machine lacks for the route
#
# WINE_SESSION_SCREEN sets the X screen (default 1920x1080x24) when the session starts.
# WINE_SESSION_BITS=32 marks a session for 32-bit programs: starting it checks that 32-bit Wine
# runs a trivial 32-bit program, and exits 77 with the reason when it does not. =64 marks one
# for 64-bit programs only, which sets up no 32-bit route.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)

system_wine64=/usr/lib/wine/wine64
system_wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64

# Whether the kernel itself runs i386 programs: tools/wine32-emulated/kernel_probe.asm exits
# with 42 only then, not when binfmt_misc hands it to qemu-i386.
kernel_runs_i386() {
  local probe rc=0
  probe=$(mktemp)
  base64 -d >"$probe" <<<'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAiSAAAAGAIAAAcAAAAAEAAAuHoAAAC7koAECM2AuwEAAACFwHUigT2WgQQIeDg2X3UWZoE9moEECDY0dQuAPZyBBAgAdQKzKrgBAAAAzYA='
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  [ "$rc" = 42 ]
}

route() {
  case "${WINE32_ROUTE:-}" in
    native | emulated) echo "$WINE32_ROUTE" ;;
    "") if kernel_runs_i386; then echo native; else echo emulated; fi ;;
    *)
      echo "wine-session: WINE32_ROUTE is native or emulated, not '$WINE32_ROUTE'" >&2
      return 2
      ;;
  esac
}

# What the route needs that this machine does not have.
why_no_32bit() {
  local missing="tools/setup.sh installs it"
  if [ ! -x "$system_wine64" ]; then
    echo "Wine is not installed; $missing"
  elif [ ! -x "$system_wine32" ]; then
    echo "32-bit Wine (wine32:i386) is not installed; $missing"
  elif [ "$1" = native ] && ! kernel_runs_i386; then
    echo "this machine's kernel cannot run 32-bit programs (IA32 emulation is off); the emulated route can"
  elif [ "$1" = emulated ] && ! command -v qemu-i386 >/dev/null; then
    echo "qemu-i386 (qemu-user) is not installed; $missing"
  else
    return 0
  fi
  return 1
}

case "${1:-}" in
  route)
    route
    exit
    ;;
  why-no-32bit)
    if [ -z "${WINE_SESSION_DIR:-}" ]; then
      why_no_32bit "$(route)"
      exit
    fi
    ;;
esac

dir=${WINE_SESSION_DIR:?WINE_SESSION_DIR must name the session folder}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX=$dir/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: a fresh prefix would otherwise ask to download them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
screen=${WINE_SESSION_SCREEN:-1920x1080x24}
bits=${WINE_SESSION_BITS:-}
emulated=$dir/wine32-emulated/lib/wine
use_route() {
  session_route=$1
  if [ "$session_route" = emulated ] && [ "$bits" != 64 ]; then
    wine64=$emulated/wine64
    wine32=$emulated/wine
  else
    wine64=$system_wine64
    wine32=$system_wine32
  fi
}
# A live session keeps the route it started with.
if [ -s "$dir/route" ]; then use_route "$(cat "$dir/route")"; else use_route "$(route)"; fi

alive() { [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

# The emulated route's loaders in a folder laid out like /usr, so that they find Wine's
# libraries and data as they do from /usr/lib/wine. Wine starts a program of the other width
# with the loader that lies beside the running binary (its links resolved), so wine64 and the
# real 32-bit loader are copies here, and `wine` is the script that runs the latter under qemu.
make_emulated_loaders() {
  local root=$dir/wine32-emulated source=$tools/wine32-emulated
  mkdir -p "$emulated" "$root/lib/x86_64-linux-gnu" "$root/lib/i386-linux-gnu" "$root/share"
  ln -sfn /usr/lib/x86_64-linux-gnu/wine "$root/lib/x86_64-linux-gnu/wine"
  ln -sfn /usr/lib/i386-linux-gnu/wine "$root/lib/i386-linux-gnu/wine"
  ln -sfn /usr/share/wine "$root/share/wine"
  ln -sfn /usr/lib/wine/wineserver "$emulated/wineserver"
  cp "$system_wine64" "$emulated/wine64"
  cp "$system_wine32" "$emulated/wine32"
  cp "$source/loader.sh" "$emulated/wine"
  if [ ! "$emulated/qemu_fixes.so" -nt "$source/qemu_fixes.c" ]; then
    gcc -m32 -O2 -fPIC -shared -nostdlib -ffreestanding -fno-stack-protector \
      -o "$emulated/qemu_fixes.so" "$source/qemu_fixes.c"
  fi
  [ -x "$emulated/wine" ] && [ -x "$emulated/wine32" ] && [ -s "$emulated/qemu_fixes.so" ]
}

# Whether 32-bit Wine runs a trivial 32-bit program in this session: the reason it does not
# goes to health32, empty when it does.
check_32bit() {
  local reason="" out rc=0
  if ! reason=$(why_no_32bit "$session_route"); then
    :
  elif [ ! -x "$wine32" ]; then
    reason="the emulated route's loaders could not be made in $dir/wine32-emulated"
  elif [ ! -d "$WINEPREFIX/drive_c/windows/syswow64" ]; then
    reason="the Wine prefix has no 32-bit half: wineboot could not start 32-bit Wine"
  else
    # Through a file: Wine's helper processes would hold a pipe open long after.
    out=$(mktemp)
    "$wine32" 'C:\windows\syswow64\cmd.exe' /c exit 42 </dev/null >"$out" 2>&1 9>&- || rc=$?
    [ "$rc" = 42 ] || reason="32-bit Wine ($session_route route) did not run cmd /c exit 42 (exit code $rc): $(tail -n 1 "$out")"
    rm -f "$out"
  fi
  printf '%s' "$reason" >"$dir/health32"
}

start() {
  exec 9>"$dir/lock"
  flock 9
  if ! alive "$dir/xvfb.pid" || [ ! -s "$dir/display" ] || ! "$wineserver" -k0 2>/dev/null; then
    start_unlocked
  fi
  export DISPLAY=":$(cat "$dir/display")"
  if [ "$bits" != 64 ] && [ ! -f "$dir/health32" ]; then check_32bit; fi
}

start_unlocked() {
  stop_unlocked
  use_route "$(route)"
  echo "$session_route" >"$dir/route"
  if [ "$wine32" = "$emulated/wine" ]; then
    rm -f "$wine32"
    if why_no_32bit emulated >/dev/null && ! make_emulated_loaders; then rm -f "$wine32"; fi
  fi
  # Xvfb picks a free display number itself and writes it to fd 8 once it takes connections.
  rm -f "$dir/display" "$dir/display.fifo" "$dir/health32"
  mkfifo "$dir/display.fifo"
  Xvfb -displayfd 8 -screen 0 "$screen" -nolisten tcp 8>"$dir/display.fifo" </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$dir/xvfb.pid"
  local number=""
  read -r -t 60 number <"$dir/display.fifo" || true
  rm -f "$dir/display.fifo"
  [ -n "$number" ] || { echo "wine-session: Xvfb did not report a display within 60 s" >&2; exit 1; }
  echo "$number" >"$dir/display"
  export DISPLAY=":$number"
  # Wine's helper processes must not hold the caller's output pipes open (CTest would wait
  # for them), so everything started here gets /dev/null.
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
  # A prefix is made for the loaders that use it: with its 32-bit half unless the session is
  # for 64-bit programs only.
  local flavour=$session_route made=""
  [ "$bits" != 64 ] || flavour="64-bit only"
  if [ "$(cat "$WINEPREFIX/.session-ready" 2>/dev/null)" != "$flavour" ]; then
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
    "$wine64" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    made=1
  else
    "$wine64" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
  # - Unmanaged windows: without it every message box costs about two seconds under Xvfb.
  # - No crash dialog, which would wait for a click that never comes: a program that crashes
  #   ends at once, with a backtrace on its error output.
  # - Heap tail checking, which 32-bit Wine does only when asked: a write past the end of a
  #   heap block then fails HeapValidate, as it does under 64-bit Wine unasked.
  cat >"$WINEPREFIX/drive_c/session.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager]
"GlobalFlag"=dword:00000010
REG
  "$wine64" reg import 'C:\session.reg' </dev/null >/dev/null 2>&1 9>&-
  rm -f "$WINEPREFIX/drive_c/session.reg"
  if [ -n "$made" ]; then
    # While the wineserver that made the prefix runs, a 32-bit program that starts another
    # one takes about ten seconds to end; a fresh wineserver has no such delay.
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
    echo "$flavour" >"$WINEPREFIX/.session-ready"
  fi
}

stop_unlocked() {
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w </dev/null >/dev/null 2>&1 || true
  if alive "$dir/xvfb.pid"; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$dir/xvfb.pid"
}

# Whether a program's image header names an i386 machine.
is_32bit() {
  local pe machine=""
  if [ -f "$1" ]; then
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$pe" ] && machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  fi
  [ "$machine" = 014c ]
}

# Why 32-bit programs cannot run in this session, or nothing.
why_not_here() { cat "$dir/health32" 2>/dev/null || echo "this session is for 64-bit programs only"; }

# Exits 77 with the reason when 32-bit programs cannot run in this session.
require_32bit() {
  local reason
  reason=$(why_not_here)
  [ -z "$reason" ] && return
  echo "skipped: $reason"
  exit 77
}

case "${1:-}" in
  start)
    start
    if [ "$bits" = 32 ]; then require_32bit; fi
    ;;
  stop)
    exec 9>"$dir/lock"
    flock 9
    stop_unlocked
    ;;
  env)
    start >/dev/null
    printf 'export WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
      "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$DISPLAY"
    printf 'WINE_SESSION_ROUTE=%q WINE_SESSION_WINE64=%q WINE_SESSION_WINE32=%q\n' \
      "$session_route" "$wine64" "$wine32"
    ;;
  why-no-32bit)
    start
    reason=$(why_not_here)
    [ -z "$reason" ] || { echo "$reason"; exit 1; }
    ;;
  run)
    shift
    start
    wine=$wine64
    if is_32bit "$1"; then
      require_32bit
      wine=$wine32
    fi
    exec 9>&-
    # The program's output goes through a file for the same reason as above: a Wine helper
    # started on its behalf may outlive it.
    out=$(mktemp)
    set +e
    "$wine" "$@" </dev/null >"$out" 2>&1
    rc=$?
    set -e
    cat "$out"
    rm -f "$out"
    exit "$rc"
    ;;
  *)
    echo "usage: wine-session.sh start|stop|env|run EXE [ARGS...]|route|why-no-32bit" >&2
    exit 2
    ;;
esac
