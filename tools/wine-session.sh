#!/usr/bin/env bash
# Runs the 64-bit Windows test programs under wine64, in a Wine prefix and an X server that
# belong to one build tree (WINE_SESSION_DIR), never the user's ~/.wine.
#
#   wine-session.sh start         make the prefix if needed, start Xvfb and a persistent wineserver
#   wine-session.sh stop          end both
#   wine-session.sh run EXE ARGS  run one program in the session, starting the session first if needed
#   wine-session.sh env           print the session's environment as shell assignments
#
# WINE_SESSION_SCREEN sets the X screen (default 1920x1080x24) when the session starts.
set -euo pipefail

dir=${WINE_SESSION_DIR:?WINE_SESSION_DIR must name the session folder}
mkdir -p "$dir"
dir=$(cd "$dir" && pwd)
export WINEPREFIX=$dir/prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: a fresh prefix would otherwise ask to download them.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
screen=${WINE_SESSION_SCREEN:-1920x1080x24}

wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
wineserver=/usr/lib/wine/wineserver64
[ -x "$wineserver" ] || wineserver=$(command -v wineserver)

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
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 9>&-
    # Unmanaged windows: without it every message box costs about two seconds under Xvfb.
    "$wine" reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1 9>&-
    touch "$WINEPREFIX/.session-ready"
  else
    "$wine" wineboot </dev/null >/dev/null 2>&1 9>&-
  fi
}

stop_unlocked() {
  "$wineserver" -k </dev/null >/dev/null 2>&1 || true
  "$wineserver" -w </dev/null >/dev/null 2>&1 || true
  if alive "$dir/xvfb.pid"; then kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true; fi
  rm -f "$dir/xvfb.pid"
}

case "${1:-}" in
  start) start ;;
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
    echo "usage: wine-session.sh start|stop|env|run EXE [ARGS...]" >&2
    exit 2
    ;;
esac
