#!/usr/bin/env bash
# Runs Windows programs under Wine, in a Wine prefix and an X server that belong to one build
# tree (WINE_SESSION_DIR), never the user's ~/.wine. 64-bit programs run under wine64, 32-bit
# ones under the 32-bit loader of wine32, in the same prefix.
#
#   wine-session.sh start         make the prefix if needed, start Xvfb and a persistent wineserver
#   wine-session.sh stop          end both
#   wine-session.sh run EXE ARGS  run one program in the session, starting the session first if needed;
#                                 a 32-bit program on a machine that cannot run one exits with 77
#                                 (CTest's skip) after saying why
#   wine-session.sh env           print the session's environment as shell assignments
#   wine-session.sh why-no-32bit  say why this machine cannot run 32-bit Windows programs (exit 1),
#                                 or nothing (exit 0) when it can
#
# WINE_SESSION_SCREEN sets the X screen (default 1920x1080x24) when the session starts;
# WINE_SESSION_BITS=32 marks a session for 32-bit programs only, which start skips (77) where
# they cannot run.
set -euo pipefail

wine64=/usr/lib/wine/wine64
[ -x "$wine64" ] || wine64=$(command -v wine64 || command -v wine)
wine32=/usr/lib/wine/wine
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

# 32-bit Wine needs a kernel that runs 32-bit Linux programs, which some kernels do not (IA32
# emulation switched off). Tried with a 96-byte i386 program that exits with 42.
why_no_32bit() {
  local probe rc=0
  probe=$(mktemp)
  base64 -d >"$probe" <<<'f0VMRgEBAQAAAAAAAAAAAAIAAwABAAAAVIAECDQAAAAAAAAAAAAAADQAIAABAAAAAAAAAAEAAAAAAAAAAIAECACABAhgAAAAYAAAAAUAAAAAEAAAuAEAAAC7KgAAAM2A'
  chmod +x "$probe"
  "$probe" 2>/dev/null || rc=$?
  rm -f "$probe"
  if [ "$rc" != 42 ]; then
    echo "this machine's kernel cannot run 32-bit programs (IA32 emulation is off)"
  elif [ ! -x "$wine32" ]; then
    echo "32-bit Wine (wine32:i386) is not installed; tools/setup.sh installs it"
  else
    return 0
  fi
  return 1
}

if [ "${1:-}" = why-no-32bit ]; then
  why_no_32bit
  exit
fi

dir=${WINE_SESSION_DIR:?WINE_SESSION_DIR must name the session folder}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX=$dir/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: a fresh prefix would otherwise ask to download them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
screen=${WINE_SESSION_SCREEN:-1920x1080x24}

alive() { [ -s "$1" ] && kill -0 "$(cat "$1")" 2>/dev/null; }

start() {
  exec 9>"$dir/lock"
  flock 9
  if alive "$dir/xvfb.pid" && [ -s "$dir/display" ] && "$wineserver" -k0 2>/dev/null; then
    export DISPLAY=":$(cat "$dir/display")"
    return
  fi
  stop_unlocked
  # Xvfb picks a free display number itself and writes it to fd 8.
  rm -f "$dir/display"
  Xvfb -displayfd 8 -screen 0 "$screen" -nolisten tcp 8>"$dir/display" </dev/null >/dev/null 2>&1 9>&- &
  echo $! >"$dir/xvfb.pid"
  for _ in $(seq 100); do [ -s "$dir/display" ] && break; sleep 0.1; done
  [ -s "$dir/display" ] || { echo "wine-session: Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(tr -d '\n' <"$dir/display")"
  echo "${DISPLAY#:}" >"$dir/display"
  # Wine's helper processes must not hold the caller's output pipes open (CTest would wait
  # for them), so everything started here gets /dev/null.
  mkdir -p "$WINEPREFIX"
  "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
  if [ ! -f "$WINEPREFIX/.session-ready" ]; then
    "$wine64" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # Unmanaged windows: without it every message box costs about two seconds under Xvfb.
    "$wine64" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    # While the wineserver that made the prefix runs, a 32-bit program that starts another
    # one takes about ten seconds to end; a fresh wineserver has no such delay.
    "$wineserver" -k </dev/null >/dev/null 2>&1 || true
    "$wineserver" -w </dev/null >/dev/null 2>&1 || true
    "$wineserver" -p </dev/null >/dev/null 2>&1 9>&-
    touch "$WINEPREFIX/.session-ready"
  else
    "$wine64" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
}

stop_unlocked() {
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w </dev/null >/dev/null 2>&1 || true
  if alive "$dir/xvfb.pid"; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$dir/xvfb.pid"
}

# The loader for a program: the 32-bit one when its image header names an i386 machine.
loader_for() {
  local machine=""
  if [ -f "$1" ]; then
    local pe
    pe=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$pe" ] && machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
  fi
  if [ "$machine" = 014c ]; then echo "$wine32"; else echo "$wine64"; fi
}

case "${1:-}" in
  start)
    # A session only for 32-bit programs is not worth starting where none can run.
    if [ "${WINE_SESSION_BITS:-}" = 32 ] && ! reason=$(why_no_32bit); then
      echo "skipped: $reason"
      exit 77
    fi
    start
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
    ;;
  run)
    shift
    wine=$(loader_for "$1")
    if [ "$wine" = "$wine32" ] && ! reason=$(why_no_32bit); then
      echo "skipped: $reason"
      exit 77
    fi
    start
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
    echo "usage: wine-session.sh start|stop|env|run EXE [ARGS...]|why-no-32bit" >&2
    exit 2
    ;;
esac
