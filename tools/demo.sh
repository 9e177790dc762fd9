#!/usr/bin/env bash
# The whole system on a simulated user's machine: a throwaway Wine prefix whose C: drive has
# DOSBox 0.74-3 for Windows in its usual folder (built by set-up, tools/windows-dosbox.sh) and
# C:\PB35 holding a stand-in PB.exe. Runs the shipped 32-bit launcher under 32-bit Wine, by the
# route this machine takes, reports in plain lines what happened, and saves screenshots of DOSBox
# and of the three error boxes under build/demo/. Every line it reports is checked, and it fails,
# naming them, when any does not hold. Set-up makes 32-bit Wine run on every machine,
# so where the session says it does not, something broke: the demonstration stops with the reason
# rather than show the 64-bit twin in the shipped launcher's place.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
demo=$root/build/demo
# This checkout's build of DOSBox, or a stop with the command that builds it.
windows_dosbox=$(bash tools/windows-dosbox.sh path)

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
# Runs the launcher there with its output, and that of every program it starts, in the file $1:
# DOSBox inherits it, so that Wine's or qemu's word of a crash of DOSBox lands there too.
launcher() { (cd "$downloads" && exec "$WINE_SESSION_WINE32" PBLaunch.exe) </dev/null >"$1" 2>&1; }

say() { printf '  %s\n' "$*"; }
# Every claim the demonstration makes is checked; one that does not hold is said in capitals and
# named again at the end, and the demonstration fails.
failed=()
fail() {
  failed+=("$1")
  say "$2"
}
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
    if tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qxF "WINEPREFIX=$WINEPREFIX"; then echo "$pid"; fi
  done
}
dosbox_ended() { [ -z "$(session_dosbox)" ]; }
# What Wine and qemu print when a program crashes.
crash_words=(-e 'uncaught target signal' -e 'Unhandled exception' -e 'Unhandled page fault' -e 'Backtrace:')
# Whether X window $1 shows DOS's text: over a thousand pixels of its light grey (#AAAAAA), in
# which DOS writes its prompt and the stand-in its line. Until DOSBox draws its first frame the
# area holds whatever X left there (pieces of window frames, in greys of their own), or black.
drawn() {
  import -display "$DISPLAY" -window "$1" png:- 2>/dev/null | convert png:- -format %c histogram:info:- |
    awk '/#AAAAAA/ { pixels = $1 + 0 } END { exit !(pixels > 1000) }'
}

mkdir -p "$dosbox_folder" "$c/PB35"
cp "$windows_dosbox" "$dosbox_folder/DOSBox.exe"
cp "$bin/stand_in_pb.com" "$c/PB35/PB.exe"
touch "$c/PB35/PB_HOLD.TXT"  # keeps PB.exe running until the screenshot is taken

echo "A user's machine: C:\\Program Files\\DOSBox-0.74\\DOSBox.exe (DOSBox 0.74-3 for Windows) and C:\\PB35\\PB.exe, no dosbox.conf yet."
echo "The shipped launcher is in C:\\users\\demo-user\\Downloads, beside someone else's dosbox.conf and stdout.txt."
height=$(cut -dx -f2 <<<"$WINE_SESSION_SCREEN")
echo "Screen: $(cut -dx -f1-2 <<<"$WINE_SESSION_SCREEN") (X display $DISPLAY). Running PBLaunch.exe there..."
set +e
# Wine's trace of process creation shows the command line the launcher hands to Windows.
WINEDEBUG=trace+process launcher "$demo/launcher.log"
launcher_exit=$?
set -e
if [ "$launcher_exit" = 0 ]; then
  say "launcher exit code: 0 (it does not wait for DOSBox)"
else
  fail "launcher exit code 0" "launcher exit code: $launcher_exit, NOT 0"
fi

# The text the launcher has for this display, from its own templates (render_dosbox_conf).
conf="$c/PB35/dosbox.conf"
read -r _ resolution _ < <("$root/tools/wine-session.sh" run "$bin/render_dosbox_conf.exe" "$height" "$demo/expected.conf")
if [ -f "$conf" ] && cmp -s "$conf" "$demo/expected.conf"; then
  say "dosbox.conf written: $(stat -c %s "$conf") bytes, the ${resolution} text, chosen for a display ${height} pixels high"
  say "  (below 800 pixels: 640x480; up to 1599: 1280x800; from 1600: 2560x1600)"
else
  fail "dosbox.conf written with the ${resolution} text" "dosbox.conf was NOT written with the ${resolution} text for a display ${height} pixels high"
fi
expected_line='"C:\Program Files\DOSBox-0.74\DOSBox.exe"  "C:\PB35\PB.exe" -noconsole -exit -conf "C:\PB35\dosbox.conf" '
command_line=$(grep -a 'CreateProcessInternalW app' "$demo/launcher.log" | grep -a -m 1 -F 'DOSBox.exe' |
  sed -e 's/.* cmdline L"//' -e 's/"$//' -e 's/\\"/"/g' -e 's/\\\\/\\/g' || true)
if [ "$command_line" = "$expected_line" ]; then
  say "DOSBox's command line, from Wine's trace of the launcher's CreateProcessW: [$command_line]"
else
  fail "DOSBox's command line" "DOSBox's command line in Wine's trace is NOT [$expected_line] but [${command_line:-none}]"
fi

# The DOSBox window for PowerBasic's text screen: the text's size, fitted to 640x400's shape.
case $resolution in
  640x480) expected_window=640x400 ;;
  *) expected_window=$resolution ;;
esac
dosbox_seen=""
if wait_for 60 grep -q holding "$c/PB35/PB_RAN.TXT" 2>/dev/null &&
  window=$(xdotool search --name '^DOSBox 0\.74-3' | head -n 1) && [ -n "$window" ]; then
  dosbox_seen=1
  # Wine draws the frame; the drawing area is the frame window's one child.
  read -r area size < <(xwininfo -children -id "$window" | grep -a -m 1 -o '0x[0-9a-f]* .*: ([^)]*)  [0-9]*x[0-9]*' |
    sed -E 's/^(0x[0-9a-f]*) .* ([0-9]*x[0-9]*)$/\1 \2/')
  # DOSBox draws its first frame a while after PB.exe starts (seconds under qemu): the picture
  # is taken once the drawing area shows DOS's text.
  if [ -n "${area:-}" ] && wait_for 60 drawn "$area"; then
    import -display "$DISPLAY" -window "$window" "$demo/dosbox-running.png"
    title=$(xdotool getwindowname "$window")
    if [ "$size" = "$expected_window" ]; then
      say "PB.exe is running inside DOSBox: a ${size} picture, showing DOS's text, in the window titled \"$title\""
      say "  screenshot build/demo/dosbox-running.png"
    else
      fail "a ${expected_window} DOSBox window" "PB.exe is running inside DOSBox, but its picture is ${size}, NOT ${expected_window}"
    fi
  else
    fail "a drawn DOSBox window" "DOSBox's window ${area:-(no drawing area)} showed NO DOS text within 60 s"
  fi
else
  fail "PB.exe running inside DOSBox" "PB.exe was NOT running inside DOSBox within 60 s"
fi
rm -f "$c/PB35/PB_HOLD.TXT"
if [ -z "$dosbox_seen" ]; then
  fail "DOSBox closing by itself" "DOSBox did NOT show PB.exe running, so it did not close by itself either"
  kill $(session_dosbox) 2>/dev/null || true
elif ! wait_for 60 dosbox_ended; then
  fail "DOSBox closing by itself" "DOSBox did NOT close by itself within 60 s of PB.exe's end; ending it"
  kill $(session_dosbox) 2>/dev/null || true
elif crashed=$(grep -a -m 1 "${crash_words[@]}" "$demo/launcher.log"); then
  fail "DOSBox closing by itself" "DOSBox ended, but it CRASHED: \"$crashed\" (build/demo/launcher.log)"
else
  say "DOSBox closed by itself when PB.exe ended, and nothing says it crashed"
fi
pb_ran=$(tr -d '\r' 2>/dev/null <"$c/PB35/PB_RAN.TXT" | paste -sd' ' || true)
if [ "$pb_ran" = "stand-in PB.EXE ran holding released" ]; then
  say "PB.exe ran: C:\\PB35\\PB_RAN.TXT says \"$pb_ran\""
else
  fail "PB.exe ran" "PB.exe did NOT run to its end: no \"holding released\" in C:\\PB35\\PB_RAN.TXT"
fi
loaded='CONFIG:Loading primary settings from config file C:\PB35\dosbox.conf'
if tr -d '\r' <"$c/PB35/stdout.txt" 2>/dev/null | grep -qxF "$loaded"; then
  say "DOSBox wrote its messages into C:\\PB35\\stdout.txt, so it worked in C:\\PB35; they include:"
  tr -d '\r' <"$c/PB35/stdout.txt" | grep -a -E '^(DOSBox version|CONFIG:|SDL_Init:)' | sed 's/^/    /'
else
  fail "DOSBox working in C:\\PB35 on its dosbox.conf" "C:\\PB35\\stdout.txt does NOT say \"$loaded\""
fi
if cmp -s "$demo/dosbox.conf" "$downloads/dosbox.conf" && cmp -s "$demo/stdout.txt" "$downloads/stdout.txt"; then
  say "the dosbox.conf and stdout.txt beside the launcher: untouched"
else
  fail "the stranger's files untouched" "the dosbox.conf or stdout.txt beside the launcher CHANGED"
fi

# Each failure the user can meet: its box, photographed and closed with its OK button. DOSBox
# here only ends at once, for the one case that still starts it.
error_box() {  # error_box NAME WHAT
  launcher "$demo/launcher-$1.log" &
  local pid=$! rc
  if wait_for 30 xdotool search --name '^ERROR!$' >/dev/null 2>&1; then
    sleep 0.5
    screenshot "$demo/error-$1.png"
    say "$2: box \"ERROR!\" shown, screenshot build/demo/error-$1.png"
    # Wine draws the box without a window manager, so the OK button is clicked where it is:
    # centred, near the bottom edge.
    eval "$(xdotool search --name '^ERROR!$' getwindowgeometry --shell | head -5)"
    xdotool mousemove --sync $((X + WIDTH / 2)) $((Y + HEIGHT - 22)) click 1
  else
    fail "the box $1" "$2: NO box \"ERROR!\" within 30 s"
  fi
  if wait_for 20 sh -c "! kill -0 $pid 2>/dev/null"; then
    rc=0
    wait "$pid" || rc=$?
    if [ "$rc" = 0 ]; then
      say "  launcher exit code after OK was clicked: 0"
    else
      fail "the box $1 closed with exit code 0" "  launcher exit code after OK was clicked: $rc, NOT 0"
    fi
  else
    fail "the box $1 closed" "  the box did NOT close; ending the launcher"
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

if [ ${#failed[@]} -gt 0 ]; then
  echo
  echo "demo: these claims did NOT hold:"
  printf '  - %s\n' "${failed[@]}"
  exit 1
fi
