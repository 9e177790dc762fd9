#!/bin/bash
# Wine's 32-bit loader for a kernel that cannot run 32-bit programs: the real one, copied beside
# this script as wine32, under qemu-i386 user-mode emulation. tools/wine-session.sh installs it as
# `wine` in a folder of its own next to a copy of wine64, so that Wine starts every 32-bit
# program through it (Wine looks for the 32-bit loader beside the 64-bit one).
#
# - The name the loader is run under (-0) stays this script's path: Wine starts later programs
#   by that name, from the folder of the binary that runs.
# - WINELOADERNOEXEC: the loader would start itself once more before running anything, which
#   here would only cost another emulator start.
# - qemu_fixes.so makes up for three faults of qemu's emulation that Wine runs into. It is
#   preloaded through a descriptor opened here, since the dynamic loader splits LD_PRELOAD at
#   spaces and colons, qemu splits -E at commas, and the checkout's path may hold any of them;
#   qemu passes the descriptor through, and the library closes it once loaded.
here=${0%/*}
exec {fixes}<"$here/qemu_fixes.so" || exit 127
WINELOADERNOEXEC=1 exec qemu-i386 -E "LD_PRELOAD=/proc/self/fd/$fixes" -0 "$0" "$here/wine32" "$@"
