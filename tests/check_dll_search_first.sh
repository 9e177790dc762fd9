#!/usr/bin/env bash
# The launcher restricts the DLL search before anything else: in Wine's relay trace of one run,
# its own first calls look SetDefaultDllDirectories up and make it with the system folder alone
# (LOAD_LIBRARY_SEARCH_SYSTEM32), before start-up's first HeapCreate. Runs in the test's Wine
# session, on a C: drive where the run shows no message.
#   check_dll_search_first.sh WINE_SESSION LAUNCHER DOSBOX_STAND_IN
set -euo pipefail
session=$1 launcher=$2
vars=$("$session" env)
eval "$vars"
c=$WINEPREFIX/drive_c
trap 'rm -rf "$c/Program Files/DOSBox-0.74" "$c/PB35"' EXIT
mkdir -p "$c/Program Files/DOSBox-0.74" "$c/PB35"
cp "$3" "$c/Program Files/DOSBox-0.74/DOSBox.exe"
touch "$c/PB35/dosbox.conf"
# Only these are traced, and only in programs run with WINEDEBUG=+relay.
"$WINE_SESSION_WINE64" reg add 'HKCU\Software\Wine\Debug' /v RelayInclude /f /d "$(printf \
  'kernel32.%s;' GetModuleHandleW GetProcAddress SetDefaultDllDirectories HeapCreate)" \
  </dev/null >/dev/null 2>&1
trace=$(WINEDEBUG=+relay "$session" run "$launcher")

# The launcher's own calls: on its first thread, returning into its image, which Wine loads at
# the address its header names.
pe=$(od -An -tu4 -j60 -N4 "$launcher")
[ "$(od -An -tx2 -j$((pe + 24)) -N2 "$launcher" | tr -d ' ')" = 010b ] && at=52 bytes=4 || at=48 bytes=8
base=$(od -An -tu$bytes -j$((pe + at)) -N$bytes "$launcher")
size=$(od -An -tu4 -j$((pe + 80)) -N4 "$launcher")
thread=$(grep -m1 -o '^[0-9a-f]*:trace:relay' <<<"$trace" | cut -d: -f1)
calls=""
while IFS= read -r line; do
  [[ $line =~ ^$thread:Call\ KERNEL32\.([A-Za-z]+)(\(.*\))\ ret=([0-9a-f]+)$ ]] || continue
  call=${BASH_REMATCH[1]}
  [ "$call" != SetDefaultDllDirectories ] || call+=${BASH_REMATCH[2]}
  ((16#${BASH_REMATCH[3]} >= base && 16#${BASH_REMATCH[3]} < base + size)) && calls+="$call "
done <<<"$trace"
if [[ $calls != "GetModuleHandleW GetProcAddress SetDefaultDllDirectories(00000800) HeapCreate "* ]]; then
  echo "0 passed, 1 failed: the launcher's first calls are ${calls:-none}"
  exit 1
fi
echo "1 passed: the launcher's first calls are $calls"
