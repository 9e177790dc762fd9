#!/usr/bin/env bash
# Measures what the README's numbers say: the shipped image's size and what takes the room,
# the launcher twin's whole run under wine64 against a program that only exits (alternated,
# median of the per-pair ratios), and the test suite's time. Prints a Markdown report.
#   tools/benchmark.sh [PAIRS]      (default 15 pairs; builds first)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-15}
bash tools/setup.sh
bash tools/build.sh >/dev/null

image=build/i686/bin/PBLaunch.exe
echo "# Benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m) $(. /etc/os-release; echo "$PRETTY_NAME")"
echo
echo "## The shipped image"
echo
echo "$image: $(stat -c %s "$image") bytes (target: at most 40960)."
echo
echo "| section | content bytes | bytes in the file (512-byte units) |"
echo "|---|---|---|"
headers=$(stat -c %s "$image")
while read -r _ name size _ _ offset _; do
  [ "$name" = .bss ] && continue
  bytes=$((16#$size))
  echo "| $name | $bytes | $(( (bytes + 511) / 512 * 512 )) |"
  headers=$(( headers - (bytes + 511) / 512 * 512 ))
done < <(i686-w64-mingw32-objdump -h "$image" | grep -E '^ +[0-9]+ ')
echo "| headers | | $headers |"
echo
echo "What takes the room: .rsrc is mostly the icon's four bitmaps ($(( 10344 + 2664 + 1640 + 744 )) bytes);"
echo ".rdata is mostly the dosbox.conf body (one copy for all three texts); .text is the code."

# A user's machine with everything in place and dosbox.conf already written; DOSBox.exe is
# the empty program, so only the launcher's own work is timed.
session=build/x86_64/bench-session
export WINE_SESSION_DIR=$PWD/$session
tools/wine-session.sh start
eval "$(tools/wine-session.sh env)"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=$(command -v wine64 || command -v wine)
drive_c=$WINEPREFIX/drive_c
mkdir -p "$drive_c/Program Files/DOSBox-0.74" "$drive_c/PB35"
cp build/x86_64/bin/empty_program.exe "$drive_c/Program Files/DOSBox-0.74/DOSBox.exe"
"$wine" build/x86_64/bin/PBLaunch.exe </dev/null >/dev/null 2>&1  # writes dosbox.conf once

run() {
  local start end
  start=$(date +%s%N)
  "$wine" "$1" </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
ratios=()
user32_ratios=()
launcher_times=()
empty_times=()
user32_times=()
for _ in $(seq "$pairs"); do
  l=$(run build/x86_64/bin/PBLaunch.exe)
  e=$(run build/x86_64/bin/empty_program.exe)
  u=$(run build/x86_64/bin/user32_program.exe)
  launcher_times+=("$l")
  empty_times+=("$e")
  user32_times+=("$u")
  ratios+=("$(awk -v l="$l" -v e="$e" 'BEGIN { printf "%.4f", l / e }')")
  user32_ratios+=("$(awk -v l="$l" -v e="$u" 'BEGIN { printf "%.4f", l / e }')")
done
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
tools/wine-session.sh stop
rm -rf "$session"

echo
echo "## One run under wine64, $pairs alternated pairs"
echo
echo "| program | median microseconds |"
echo "|---|---|"
echo "| launcher twin (everything in place, dosbox.conf present) | $(median "${launcher_times[@]}") |"
echo "| empty program (only ExitProcess) | $(median "${empty_times[@]}") |"
echo "| empty program that loads user32 | $(median "${user32_times[@]}") |"
echo
echo "Median of the per-pair ratios launcher / empty: $(median "${ratios[@]}") (target: at most 1.10)."
echo "Launcher / the program that loads user32: $(median "${user32_ratios[@]}")."

echo
echo "## The test suite"
echo
start=$(date +%s)
ctest --preset x86_64 >/dev/null 2>&1 && verdict=passed || verdict=FAILED
echo "ctest --preset x86_64 on a warm build: $(( $(date +%s) - start )) s ($verdict)."
