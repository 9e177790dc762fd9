#!/usr/bin/env bash
# The whole system on a simulated user's machine: a throwaway Wine prefix whose C: drive has
# DOSBox 0.74-3 for Windows in its usual folder (built by set-up, tools/windows-dosbox.sh) and
# C:\PB35 holding a stand-in PB.exe. Runs the shipped 32-bit launcher under 32-bit Wine, by the
# route this machine takes, reports in plain lines what happened, and saves screenshots of DOSBox
# and of the three error boxes under build/demo/. Set-up makes 32-bit Wine run on every machine,
# so where the session says it does not, something broke: the demonstration stops with the reason
# rather than show the 64-bit twin in the shipped launcher's place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
demo=$root/build/demo
windows_dosbox=$(bash tools/windows-dosbox.sh path)
[ -s "$windows_dosbox" ] || { echo "demo: no DOSBox for Windows at $windows_dosbox; bash tools/setup.sh builds it" && exit 1; }

rm -rf "$demo"
mkdir -p "$demo"
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
launcher() { (cd "$downloads" && "$root/tools/wine-session.sh" run PBLaunch.exe >"$demo/launcher.log" 2>&1); }

say() { printf '  %s\n' "$*"; }
# The whole X screen, cut down to what is not black background.
screenshot() { import -display "$DISPLAY" -window root png:- | convert png:- -trim +repage "$1"; }
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local limit=$(($1 * 10))
  shift
  for _ in $(seq "$limit"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# The host's processes of DOSBox in this session: Wine names each process after its Windows
# command line, and each has the session's WINEPREFIX.
session_dosbox() {
  local pid
  for pid in $(pgrep -f 'DOSBox-0\.74\\DOSBox\.exe'); do
    if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX"; then echo "$pid"; fi
  done
}
dosbox_ended() { [ -z "$(session_dosbox)" ]; }

mkdir -p "$dosbox_folder" "$c/PB35"
cp "$windows_dosbox" "$dosbox_folder/DOSBox.exe"
cp "$bin/stand_in_pb.com" "$c/PB35/PB.exe"
touch "$c/PB35/PB_HOLD.TXT"  # keeps PB.exe running until the screenshot is taken

echo "A user's machine: C:\\Program Files\\DOSBox-0.74\\DOSBox.exe (DOSBox 0.74-3 for Windows) and C:\\PB35\\PB.exe, no dosbox.conf yet."
echo "The shipped launcher is in C:\\users\\demo-user\\Downloads, beside someone else's dosbox.conf and stdout.txt."
echo "Screen: $(cut -dx -f1-2 <<<"$WINE_SESSION_SCREEN") (X display $DISPLAY). Running PBLaunch.exe there..."
set +e
# Wine's trace of process creation shows the command line the launcher hands to Windows.
WINEDEBUG=trace+process launcher
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
command_line=$(grep -a -m 1 'CreateProcessInternalW app' "$demo/launcher.log" |
  sed -e 's/.* cmdline L"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g' || true)
say "DOSBox's command line, from Wine's trace of the launcher's CreateProcessW: [${command_line:-none}]"

if wait_for 60 grep -q holding "$c/PB35/PB_RAN.TXT" 2>/dev/null; then
  window=$(xdotool search --name '^DOSBox 0\.74-3' | head -n 1)
  # Wine draws the frame; the drawing area is the frame window's one child.
  size=$(xwininfo -tree -id "$window" | grep -o -m 1 '[0-9]*x[0-9]*+[0-9]*+[0-9]* ' | cut -d+ -f1)
  sleep 1
  import -display "$DISPLAY" -window "$window" "$demo/dosbox-running.png"
  say "PB.exe is running inside DOSBox: a ${size} picture in the window titled \"$(xdotool getwindowname "$window")\""
  say "  screenshot build/demo/dosbox-running.png"
else
  say "PB.exe was NOT running inside DOSBox within 60 s"
fi
rm -f "$c/PB35/PB_HOLD.TXT"
if wait_for 60 dosbox_ended; then
  say "DOSBox closed by itself when PB.exe ended"
else
  say "DOSBox did NOT close by itself within 60 s of PB.exe's end; ending it"
  kill $(session_dosbox) 2>/dev/null || true
fi
if [ -f "$c/PB35/PB_RAN.TXT" ]; then
  say "PB.exe ran: C:\\PB35\\PB_RAN.TXT says \"$(tr -d '\r' <"$c/PB35/PB_RAN.TXT" | paste -sd' ')\""
else
  say "PB.exe did NOT run"
fi
if [ -f "$c/PB35/stdout.txt" ]; then
  say "DOSBox wrote its messages into C:\\PB35\\stdout.txt, so it worked in C:\\PB35; they include:"
  tr -d '\r' <"$c/PB35/stdout.txt" | grep -a -E '^(DOSBox version|CONFIG:|SDL_Init:)' | sed 's/^/    /'
else
  say "there is no C:\\PB35\\stdout.txt: DOSBox did not work in C:\\PB35"
fi
if cmp -s "$demo/dosbox.conf" "$downloads/dosbox.conf" && cmp -s "$demo/stdout.txt" "$downloads/stdout.txt"; then
  say "the dosbox.conf and stdout.txt beside the launcher: untouched"
else
  say "the dosbox.conf or stdout.txt beside the launcher CHANGED"
fi

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
