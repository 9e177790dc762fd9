#!/usr/bin/env bash
# Measures what the README's numbers say: the shipped image's size and what takes the room; one
# run of the launcher against the floor program, which makes the same Windows calls straight in
# one function (tools/bench/floor_program.cc), for each target this machine runs natively (the
# shipped i686 image under 32-bit Wine where the kernel runs it, its x86_64 twin under wine64;
# an emulated run would time the emulator), in alternated pairs with
# the median of the per-pair ratios; and the test suite's time. Prints a Markdown report.
#   tools/benchmark.sh [PAIRS]      (default 15 pairs; builds first)
set -euo pipefail
cd "$(dirname "$0")/.."
pairs=${1:-15}
bash tools/setup.sh >&2
bash tools/build.sh >/dev/null

image=build/i686/bin/PBLaunch.exe
echo "# Benchmark, $(date -u +%Y-%m-%d), $(nproc) cores, $(uname -m) $(. /etc/os-release; echo "$PRETTY_NAME")"
echo
echo "## The shipped image"
echo
echo "$image: $(stat -c %s "$image") bytes (budget: at most 40960, checked by the image tests)."
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

# A user's machine with everything in place and dosbox.conf already written; DOSBox.exe is a
# program that only ends, so that only the launcher's own work is timed.
session=build/bench-session
export WINE_SESSION_DIR=$PWD/$session
tools/wine-session.sh start
trap 'tools/wine-session.sh stop; rm -rf "$session"' EXIT
eval "$(tools/wine-session.sh env)"
dosbox_folder="$WINEPREFIX/drive_c/Program Files/DOSBox-0.74"
mkdir -p "$dosbox_folder" "$WINEPREFIX/drive_c/PB35"

# The loader is called directly: anything around it would be timed with both programs alike.
run() {
  local start end
  start=$(date +%s%N)
  "$1" "$2" </dev/null >/dev/null 2>&1
  end=$(date +%s%N)
  echo $(( (end - start) / 1000 ))
}
median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

echo
echo "## One run, launcher against the floor program, $pairs alternated pairs"
echo
echo "| target | Wine | launcher, median µs | floor, median µs | median of launcher / floor |"
echo "|---|---|---|---|---|"
for target in i686 x86_64; do
  if [ $target = i686 ]; then
    loader=$WINE_SESSION_WINE32
    if [ -n "$WINE_SESSION_NO_32BIT" ]; then
      echo "| i686 | 32-bit | not measured: $WINE_SESSION_NO_32BIT | | |"
      continue
    elif [ "$WINE_SESSION_ROUTE" = emulated ]; then
      echo "| i686 | 32-bit under qemu-i386 | not measured: an emulated run times the emulator | | |"
      continue
    fi
  else
    loader=$WINE_SESSION_WINE64
  fi
  bin=build/$target/bin
  cp "$bin/empty_program.exe" "$dosbox_folder/DOSBox.exe"
  rm -f "$WINEPREFIX/drive_c/PB35/dosbox.conf"
  "$loader" "$bin/PBLaunch.exe" </dev/null >/dev/null 2>&1  # writes dosbox.conf once
  launcher_times=()
  floor_times=()
  ratios=()
  for _ in $(seq "$pairs"); do
    l=$(run "$loader" "$bin/PBLaunch.exe")
    f=$(run "$loader" "$bin/floor_program.exe")
    launcher_times+=("$l")
    floor_times+=("$f")
    ratios+=("$(awk -v l="$l" -v f="$f" 'BEGIN { printf "%.4f", l / f }')")
  done
  echo "| $target | $([ $target = i686 ] && echo 32-bit || echo wine64) | $(median "${launcher_times[@]}") | $(median "${floor_times[@]}") | $(median "${ratios[@]}") |"
done
echo
echo "Aim: at most 1.05."

echo
echo "## The test suite"
echo
for preset in x86_64 i686; do
  start=$(date +%s)
  ctest --preset $preset >/dev/null 2>&1 && verdict=passed || verdict=FAILED
  route=""
  [ $preset = x86_64 ] || route=", 32-bit Wine by the $(cat build/i686/wine-session/route) route"
  echo "- ctest --preset $preset on a warm build$route: $(( $(date +%s) - start )) s ($verdict)."
done
