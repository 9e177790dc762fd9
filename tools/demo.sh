#!/usr/bin/env bash
# The whole system on a simulated user's machine: a throwaway Wine prefix whose C: drive has
# DOSBox in its usual folder (a bridge to the host's real DOSBox 0.74) and C:\PB35 holding a
# stand-in PB.exe. Runs the shipped 32-bit launcher under 32-bit Wine, by the route this
# machine takes, reports in plain lines what happened, and saves screenshots of DOSBox and of
# the three error boxes under build/demo/. Set-up makes 32-bit Wine run on every machine, so
# where the session says it does not, something broke: the demonstration stops with the reason
# rather than show the 64-bit twin in the shipped launcher's place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
demo=$root/build/demo

rm -rf "$demo"
mkdir -p "$demo/home"
export WINE_SESSION_DIR=$demo/session WINE_SESSION_SCREEN=${DEMO_SCREEN:-1920x1080x24} WINE_SESSION_BITS=32
trap 'tools/wine-session.sh stop' EXIT
session=$(tools/wine-session.sh env)
eval "$session"
bin=$root/build/i686/bin
echo "(32-bit Wine, $WINE_SESSION_ROUTE route.)"
c=$WINEPREFIX/drive_c
dosbox_folder="$c/Program Files/DOSBox-0.74"
# The user runs the launcher from the folder it was downloaded to, started there as Explorer
# starts a program, beside someone else's dosbox.conf and stdout.txt.
downloads="$c/users/demo-user/Downloads"
mkdir -p "$downloads"
cp "$bin/PBLaunch.exe" "$downloads/"
printf '[autoexec]\r\nmount d c:\\\r\n' >"$downloads/dosbox.conf"
printf 'their output\r\n' >"$downloads/stdout.txt"
cp "$downloads/dosbox.conf" "$downloads/stdout.txt" "$demo/"
launcher() { (cd "$downloads" && "$root/tools/wine-session.sh" run PBLaunch.exe >/dev/null); }
# DOSBox opens a real window on the session's X screen; no sound device is needed.
export SDL_AUDIODRIVER=dummy HOME=$demo/home DOSBOX_BRIDGE_TIME_LIMIT=120

say() { printf '  %s\n' "$*"; }
# The whole X screen, cut down to what is not black background.
screenshot() { import -display "$DISPLAY" -window root png:- | convert png:- -trim +repage "$1"; }
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}

mkdir -p "$dosbox_folder" "$c/PB35"
cp "$bin/dosbox_bridge.exe" "$dosbox_folder/DOSBox.exe"
cp "$bin/stand_in_pb.com" "$c/PB35/PB.exe"
touch "$c/PB35/PB_HOLD.TXT"  # keeps PB.exe running until the screenshot is taken

echo "A user's machine: C:\\Program Files\\DOSBox-0.74\\DOSBox.exe and C:\\PB35\\PB.exe, no dosbox.conf yet."
echo "The shipped launcher is in C:\\users\\demo-user\\Downloads, beside someone else's dosbox.conf and stdout.txt."
echo "Screen: $(cut -dx -f1-2 <<<"$WINE_SESSION_SCREEN") (X display $DISPLAY). Running PBLaunch.exe there..."
set +e
launcher
launcher_exit=$?
set -e
say "launcher exit code: $launcher_exit (it does not wait for DOSBox)"

conf="$c/PB35/dosbox.conf"
if [ -f "$conf" ]; then
  resolution=$(grep -a '^fullresolution=' "$conf" | tr -d '\r' | cut -d= -f2)
  height=$(cut -dx -f2 <<<"$WINE_SESSION_SCREEN")
  say "dosbox.conf written: $(stat -c %s "$conf") bytes, the ${resolution} text, chosen for a display ${height} pixels high"
  say "  (below 800 pixels: 640x480; up to 1599: 1280x800; from 1600: 2560x1600)"
else
  say "dosbox.conf was NOT written"
fi

if wait_for 60 grep -q holding "$c/PB35/PB_RAN.TXT" 2>/dev/null; then
  sleep 1
  screenshot "$demo/dosbox-running.png"
  say "PB.exe is running inside DOSBox: screenshot build/demo/dosbox-running.png"
fi
rm -f "$c/PB35/PB_HOLD.TXT"
log="$dosbox_folder/DOSBox.log"
wait_for 120 grep -q 'dosbox exit code' "$log" 2>/dev/null || true
say "DOSBox's command line: $(grep -a '^command line:' "$log" | sed 's/^command line: //')"
say "its working folder: $(grep -a '^working folder:' "$log" | cut -d' ' -f3-) (where DOSBox for Windows writes stdout.txt and stderr.txt)"
say "its standard input: $(grep -a '^standard input:' "$log" | cut -d' ' -f3-)"
if cmp -s "$demo/dosbox.conf" "$downloads/dosbox.conf" && cmp -s "$demo/stdout.txt" "$downloads/stdout.txt"; then
  say "the dosbox.conf and stdout.txt beside the launcher: untouched"
else
  say "the dosbox.conf or stdout.txt beside the launcher CHANGED"
fi
if [ -f "$c/PB35/PB_RAN.TXT" ]; then
  say "PB.exe ran: C:\\PB35\\PB_RAN.TXT says \"$(tr -d '\r' <"$c/PB35/PB_RAN.TXT" | paste -sd' ')\""
else
  say "PB.exe did NOT run"
fi
outcome=$(grep -a 'dosbox exit code' "$log" || echo "dosbox did not end")
case "$outcome" in
  "dosbox exit code: 0") say "DOSBox closed by itself when PB.exe ended ($outcome)" ;;
  *) say "DOSBox did not close by itself ($outcome)" ;;
esac

# Each failure the user can meet: its box, photographed and closed with its OK button. DOSBox
# here only ends at once, for the one case that still starts it.
error_box() {  # error_box NAME WHAT
  launcher &
  local pid=$!
  if wait_for 30 xdotool search --name '^ERROR!$' >/dev/null 2>&1; then
    sleep 0.5
    screenshot "$demo/error-$1.png"
    say "$2: box \"ERROR!\" shown, screenshot build/demo/error-$1.png"
    # Wine draws the box without a window manager, so the OK button is clicked where it is:
    # centred, near the bottom edge.
    eval "$(xdotool search --name '^ERROR!$' getwindowgeometry --shell | head -5)"
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
  fi
  if wait_for 20 sh -c "! kill -0 $pid 2>/dev/null"; then
    set +e
    wait "$pid"
    say "  launcher exit code after OK was clicked: $?"
    set -e
  else
    say "  the box did not close; ending the launcher"
    kill "$pid" 2>/dev/null || true
  fi
}
echo
echo "The three error boxes:"
mv "$dosbox_folder" "$c/dosbox-away"
error_box dosbox "without DOSBox in either folder"
mv "$c/dosbox-away" "$dosbox_folder"
cp "$bin/empty_program.exe" "$dosbox_folder/DOSBox.exe"
mv "$c/PB35" "$c/PB35-away"
error_box pb35 "without C:\\PB35"
mv "$c/PB35-away" "$c/PB35"
rm -f "$c/PB35/dosbox.conf"
mkdir "$c/PB35/dosbox.conf"
error_box config "with a folder where dosbox.conf would be written"
