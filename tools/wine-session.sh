#!/usr/bin/env bash
# Runs Windows programs under Wine, in a Wine prefix and an X server of one build tree
# (WINE_SESSION_DIR), never the user's ~/.wine:
#   wine-session.sh start | stop  start (Xvfb, a persistent wineserver, the prefix) or end it
#   wine-session.sh run EXE ARGS  run a program in the session, starting the session if need be
#   wine-session.sh env           print the session's environment as shell assignments
#   wine-session.sh route         print the route this machine takes for 32-bit Wine
# WINE_SESSION_BITS=32 makes a session for 32-bit programs, which run under Wine's 32-bit loader
# (Debian's wine32:i386); =64 one for 64-bit programs only, under wine64; unset, one for both,
# where a program runs under wine64 whatever its width. WINE_SESSION_SCREEN is the X screen.
# 32-bit Wine takes one of two routes: native, the kernel runs its loader, or emulated, the same
# loader runs under qemu-i386 (tools/wine32-emulated/). Native where the kernel itself runs i386
# programs and 32-bit Wine works there, else emulated; WINE32_ROUTE=native or emulated decides.
# Whether 32-bit programs run is decided in one place: a session start runs `cmd /c exit 42`
# under 32-bit Wine. Where that fails, a 32-bit session fails, saying why; it reports itself
# skipped (77, for CTest) only on a machine that tools/setup.sh has not prepared.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)
die() { echo "wine-session: $*" >&2; exit 1; }
[[ "${WINE32_ROUTE:-}" =~ ^(native|emulated|)$ ]] || die "WINE32_ROUTE is native or emulated (or unset), not '$WINE32_ROUTE'"

# Native where the kernel itself runs i386 programs: tools/wine32-emulated/kernel_probe.asm
# tells it from qemu-i386 registered with binfmt_misc.
route() {
  local probe rc=0
  if [ -n "${WINE32_ROUTE:-}" ]; then echo "$WINE32_ROUTE" && return; fi
  probe=$(mktemp)
  base64 -d >"$probe" <<<'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAiSAAAAGAIAAAcAAAAAEAAAuHoAAAC7koAECM2AuwEAAACFwHUigT2WgQQIeDg2X3UWZoE9moEECDY0dQuAPZyBBAgAdQKzKrgBAAAAzYA='
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  if [ "$rc" = 42 ]; then echo native; else echo emulated; fi
}
[ "${1:-}" != route ] || { route && exit; }

dir=${WINE_SESSION_DIR:?WINE_SESSION_DIR must name the session folder}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX=$dir/prefix WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: a fresh prefix would otherwise ask to download them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
bits=${WINE_SESSION_BITS:-}
system=/usr/lib/wine
emulated=$dir/wine32-emulated/lib/wine
wineserver=$system/wineserver64

alive() { [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }
# Wine's helper processes must not hold the caller's output pipes open (CTest would wait for
# them): Wine tools started here get no descriptor of ours, and a time limit.
quietly() { timeout "$1" "${@:2}" </dev/null >/dev/null 2>&1 9>&-; }
emulation_installed() { { command -v qemu-i386 && command -v gcc; } >/dev/null; }
lock() { exec 9>"$dir/lock"; flock -w 900 9 || die "waited 900 s for another start or stop of $dir"; }
# What timeout's exit code RC says, given its LIMIT.
exit_code() { if [ "$1" = 124 ]; then echo "still running after $2 s"; else echo "exit code $1"; fi; }
# Runs a Wine tool (LIMIT NAME COMMAND...) with a time limit and its output in NAME.log; stops
# with the end of that output where it fails.
wine_tool() {
  local rc=0
  timeout "$1" "${@:3}" </dev/null >"$dir/$2.log" 2>&1 9>&- || rc=$?
  [ "$rc" = 0 ] || die "$2 failed on $WINEPREFIX ($(exit_code "$rc" "$1")): $(tail -n 2 "$dir/$2.log" | paste -sd ' ')"
}
end_wineserver() { quietly 60 "$wineserver" -k || true; quietly 60 "$wineserver" -w || true; }

# The loaders of a route: the emulated one's where they were made, else the system's.
use_route() {
  session_route=$1 wine64=$system/wine64 wine32=$system/wine
  if [ "$1" = emulated ] && [ -x "$emulated/wine" ]; then wine64=$emulated/wine64 wine32=$emulated/wine; fi
}

# The emulated route's loaders in a folder laid out like /usr, so that they find Wine's
# libraries and data as from /usr/lib/wine. Wine starts a program of the other width with the
# loader beside the running binary (its links resolved), so wine64 and the real 32-bit loader
# are copies, and `wine` is loader.sh. Made afresh beside their place and then moved there: a
# failed step leaves no loaders at all, and its message.
make_emulated_loaders() {
  local new=$dir/wine32-emulated.new source=$tools/wine32-emulated
  rm -rf "$dir/wine32-emulated" "$new"
  mkdir -p "$new/lib/wine" "$new/lib/x86_64-linux-gnu" "$new/lib/i386-linux-gnu" "$new/share" &&
    ln -s /usr/lib/x86_64-linux-gnu/wine "$new/lib/x86_64-linux-gnu/wine" &&
    ln -s /usr/lib/i386-linux-gnu/wine "$new/lib/i386-linux-gnu/wine" &&
    ln -s /usr/share/wine "$new/share/wine" &&
    ln -s "$system/wineserver" "$new/lib/wine/wineserver" &&
    cp "$system/wine64" "$new/lib/wine/wine64" &&
    cp "$system/wine" "$new/lib/wine/wine32" &&
    cp "$source/loader.sh" "$new/lib/wine/wine" &&
    gcc -m32 -O2 -fPIC -shared -nostdlib -ffreestanding -fno-stack-protector \
      -o "$new/lib/wine/qemu_fixes.so" "$source/qemu_fixes.c" &&
    mv "$new" "$dir/wine32-emulated" && return
  rm -rf "$new"
  return 1
}

# Makes the prefix for the loaders in use (FLAVOUR: their route, or 64-bit only) unless it is
# there (`made` says whether it was made), and gives it the session's settings.
make_prefix() {
  made=""
  if [ "$(cat "$WINEPREFIX/.session-ready" 2>/dev/null)" != "$1" ]; then
    end_wineserver
    rm -rf "$WINEPREFIX"
    made=1
  fi
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
  wine_tool 600 wineboot "$wine64" wineboot ${made:+-i}
  # - Unmanaged windows: without it every message box costs about two seconds under Xvfb.
  # - No crash dialog, which would wait for a click that never comes: a program that crashes
  #   ends at once, with a backtrace on its error output.
  # - Heap tail checking, which 32-bit Wine does only when asked: a write past the end of a
  #   heap block then fails HeapValidate, as it does under 64-bit Wine unasked.
  # - SDL's windib video driver for DOSBox, in every program's environment. Unless told, DOSBox
  #   for Windows restarts SDL on DirectDraw; its OpenGL probe (output=openglnb, as the written
  #   dosbox.conf asks) leaves a GL pixel format on SDL's window, and Wine's DirectDraw, built on
  #   OpenGL, keeps switching that window's pixel format, each switch repainting the window and
  #   the repaint causing the next: DOSBox stays on its splash image and never runs PB.exe.
  #   Windows' DirectDraw does no such thing, so this is for Wine alone; dosbox.conf is untouched.
  cat >"$WINEPREFIX/drive_c/session.reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Session Manager]
"GlobalFlag"=dword:00000010

[HKEY_CURRENT_USER\Environment]
"SDL_VIDEODRIVER"="windib"
REG
  wine_tool 120 reg-import "$wine64" reg import 'C:\session.reg'
  rm -f "$WINEPREFIX/drive_c/session.reg"
  if [ -n "$made" ]; then
    # While the wineserver that made the prefix runs, a 32-bit program that starts another
    # one takes about ten seconds to end; a fresh wineserver has no such delay.
    end_wineserver
    "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
    echo "$1" >"$WINEPREFIX/.session-ready"
  fi
}

# Whether 32-bit Wine runs `cmd /c exit 42` by ROUTE; `reason` says why not.
smoke() {
  local rc=0
  reason=""
  # Through a file, for the same reason as in quietly.
  timeout 300 "$wine32" 'C:\windows\syswow64\cmd.exe' /c exit 42 </dev/null >"$dir/smoke.log" 2>&1 9>&- || rc=$?
  [ "$rc" != 42 ] || return 0
  reason="32-bit Wine ($1 route) did not run cmd /c exit 42 ($(exit_code "$rc" 300)): $(tail -n 2 "$dir/smoke.log" | paste -sd ' ')"
  # Its 32-bit half may be what failed: the prefix is made afresh next time.
  rm -f "$WINEPREFIX/.session-ready"
  return 1
}

# Sets up ROUTE, and leaves in `reason` why 32-bit Wine does not run by it, empty when it does.
bring_up() {
  local flavour=$1
  reason=""
  if [ "$1" = emulated ] && ! make_emulated_loaders >"$dir/loaders.log" 2>&1; then
    reason="the emulated route's loaders could not be made: $(grep -m 1 error: "$dir/loaders.log" || tail -n 1 "$dir/loaders.log")"
  fi
  use_route "$1"
  if [ "$bits" = 64 ] || [ -n "$reason" ]; then flavour="64-bit only"; fi
  make_prefix "$flavour"
  if [ "$bits" = 64 ]; then reason="this session is for 64-bit programs only"; fi
  [ -z "$reason" ] || return 0
  if ! smoke "$1" && [ -z "$made" ]; then
    make_prefix "$flavour"
    smoke "$1" || true
  fi
}

start() {
  lock
  # A start that did not finish wrote no route.
  if ! alive "$dir/xvfb.pid" || [ ! -s "$dir/route" ] || ! "$wineserver" -k0 2>/dev/null; then
    start_unlocked
  fi
  DISPLAY=":$(cat "$dir/display")"
  export DISPLAY
  use_route "$(cat "$dir/route")"
  [ "$bits" != 32 ] || require_32bit
}

start_unlocked() {
  stop_unlocked
  rm -f "$dir/display" "$dir/display.fifo" "$dir/route" "$dir/health32" "$dir/native-failed"
  # Xvfb picks a free display number itself and writes it to fd 8 once it takes connections.
  mkfifo "$dir/display.fifo"
  Xvfb -displayfd 8 -screen 0 "${WINE_SESSION_SCREEN:-1920x1080x24}" -nolisten tcp \
    8>"$dir/display.fifo" </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$dir/xvfb.pid"
  local number="" chosen=native
  read -r -t 60 number <"$dir/display.fifo" || true
  rm -f "$dir/display.fifo"
  [ -n "$number" ] || die "Xvfb did not report a display within 60 s"
  echo "$number" >"$dir/display"
  export DISPLAY=":$number"
  [ "$bits" = 64 ] || chosen=$(route)
  bring_up "$chosen"
  # A kernel can run i386 programs and still refuse something 32-bit Wine needs (a seccomp
  # filter, say), which qemu-i386 provides itself.
  if [ -n "$reason" ] && [ "$chosen" = native ] && [ "$bits" != 64 ] && [ -z "${WINE32_ROUTE:-}" ] &&
    emulation_installed; then
    printf '%s' "$reason" >"$dir/native-failed"
    chosen=emulated
    bring_up emulated
  fi
  printf '%s' "$reason" >"$dir/health32"
  echo "$chosen" >"$dir/route"
}

stop_unlocked() {
  end_wineserver
  if alive "$dir/xvfb.pid"; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$dir/xvfb.pid"
}

# Where 32-bit programs cannot run in this session: says why, and ends the script, with 77
# where the machine lacks what the route needs (it was not set up), else with 1.
require_32bit() {
  local reason
  reason=$(cat "$dir/health32")
  [ -n "$reason" ] || return 0
  echo "wine-session: 32-bit Wine cannot run in $dir: $reason" >&2
  if [ ! -x "$system/wine" ] || { [ "$session_route" = emulated ] && ! emulation_installed; }; then
    echo "wine-session: skipped, since this machine is not set up for the $session_route route (bash tools/setup.sh)" >&2
    exit 77
  fi
  exit 1
}

case "${1:-}" in
  start) start ;;
  stop) lock && stop_unlocked ;;
  env)
    start >/dev/null
    printf 'export WINEPREFIX=%q WINEDEBUG=%q WINEDLLOVERRIDES=%q DISPLAY=%q\n' \
      "$WINEPREFIX" "$WINEDEBUG" "$WINEDLLOVERRIDES" "$DISPLAY"
    printf 'WINE_SESSION_ROUTE=%q WINE_SESSION_WINE64=%q WINE_SESSION_WINE32=%q WINE_SESSION_NO_32BIT=%q\n' \
      "$session_route" "$wine64" "$wine32" "$(cat "$dir/health32")"
    ;;
  run)
    shift
    start
    wine=$wine64
    [ "$bits" != 32 ] || wine=$wine32
    exec 9>&-
    # The program writes to a file, shown as it grows until the program ends: a Wine helper
    # started on its behalf may outlive it, and must not hold our output open.
    out=$(mktemp)
    "$wine" "$@" </dev/null >"$out" 2>&1 &
    pid=$!
    tail -s 0.1 -n +1 -f --pid="$pid" "$out" || true
    rc=0
    wait "$pid" || rc=$?
    rm -f "$out"
    exit "$rc"
    ;;
  *)
    echo "usage: wine-session.sh start|stop|env|run EXE [ARGS...]|route" >&2
    exit 2
    ;;
esac
