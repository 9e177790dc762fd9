#!/usr/bin/env bash
# DOSBox 0.74-3 for Windows, the program users run, built from the sources in Debian's archive:
# DOSBox 0.74-3 itself and SDL 1.2.15, which it links statically, cross-compiled for i686 with
# MinGW-w64 and linked statically, so that it needs only Windows' own DLLs.
#   windows-dosbox.sh         builds it unless the cache holds a build of the same inputs, and
#                             prints where DOSBox.exe is
#   windows-dosbox.sh path    prints where DOSBox.exe is (or will be), building nothing
# The cache lies outside the checkout ($XDG_CACHE_HOME, else ~/.cache), so that a fresh clone on
# the same machine reuses it. Its inputs are this script (which pins the tarballs by their
# SHA-256) and the compiler's version; a change of either builds anew.
# Neither source is changed. What the official Windows build has and this one lacks: SDL_net
# (IPX networking and the modem's serial port types), whose source is not in the archive here,
# and libpng (screenshots with Ctrl-F5); nothing the launcher or its tests reach.
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/pb35-launcher/dosbox-0.74-3-windows
if [ "${1:-}" = path ]; then echo "$cache/DOSBox.exe" && exit; fi

# Source package, its upstream tarball and that tarball's SHA-256 (as the source index has it).
sources=(
  "dosbox dosbox_0.74-3.orig.tar.gz c0d13dd7ed2ed363b68de615475781e891cd582e8162b5c3669137502222260a"
  "libsdl1.2 libsdl1.2_1.2.15+dfsg2.orig.tar.gz ec4d5ea4714b92f840aafcf8c759cf7914827f632e19f42b18ba6f6489f0f5e9"
)
host=i686-w64-mingw32
inputs=$( (cat "$0" && "$host-g++" --version | head -n 1) | sha256sum | cut -d' ' -f1)
say() { echo "windows-dosbox: $*" >&2; }

mkdir -p "$cache"
exec 9>"$cache/lock"
flock -w 1800 9 || { say "waited 30 min for another build in $cache" && exit 1; }
if [ -s "$cache/DOSBox.exe" ] && [ "$(cat "$cache/inputs" 2>/dev/null)" = "$inputs" ]; then
  echo "$cache/DOSBox.exe"
  exit
fi

sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
# Source packages are found through deb-src entries. Where the machine has none for dosbox, one
# file is added: the machine's own entries for its Debian release, each as a deb-src entry.
if ! apt-get source --print-uris dosbox >/dev/null 2>&1; then
  . /etc/os-release
  entries=/etc/apt/sources.list.d/pb35-launcher-deb-src.sources
  say "adding $entries, the deb-src twin of the machine's entries for Debian $VERSION_CODENAME"
  python3 - "$VERSION_CODENAME" /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources <<'PY' | $sudo tee "$entries" >/dev/null
import re, sys

release, files = sys.argv[1], sys.argv[2:]
ours = lambda suites: any(s == release or s.startswith(release + "-") for s in suites)
for name in files:
    try:
        text = open(name).read()
    except OSError:
        continue
    if name.endswith(".sources"):  # deb822 stanzas; a line that starts with a space goes on
        if name.endswith("pb35-launcher-deb-src.sources"):
            continue
        for stanza in re.split(r"\n\s*\n", text):
            fields = {}
            for line in stanza.splitlines():
                if line.startswith("#"):
                    continue
                if line[:1].isspace() and fields:
                    fields[key] += "\n" + line
                elif ":" in line:
                    key, value = line.split(":", 1)
                    fields[key] = value.strip()
            if ("deb" in fields.get("Types", "").split() and ours(fields.get("Suites", "").split())
                    and fields.get("Enabled", "yes") != "no"):
                fields["Types"] = "deb-src"
                print("".join(f"{key}: {value}\n" for key, value in fields.items()))
    else:  # one-line entries: deb [options] URI suite components
        for line in text.splitlines():
            words = re.sub(r"\[[^]]*\]", "", line).split()
            if len(words) > 2 and words[0] == "deb" and ours(words[2:3]):
                print(f"Types: deb-src\nURIs: {words[1]}\nSuites: {words[2]}\n"
                      f"Components: {' '.join(words[3:])}\n")
PY
  # An index the archive lacks fails the update, but not the build: the sources' look-up says.
  $sudo apt-get update -qq || say "apt-get update reported errors; the sources may still be there"
fi

work=$cache/build
rm -rf "$work"
mkdir -p "$work/sdl"
start=$SECONDS
for source in "${sources[@]}"; do
  read -r package tarball sha256 <<<"$source"
  # The URI and hash the source index gives for the tarball; apt's helper checks the download.
  read -r uri _ _ indexed < <(apt-get source --print-uris "$package" 2>/dev/null | grep -F " $tarball ") ||
    { say "the source index has no $tarball for $package" && exit 1; }
  [ "$indexed" = "SHA256:$sha256" ] ||
    { say "the source index gives $tarball as $indexed, not the SHA256:$sha256 built here" && exit 1; }
  /usr/lib/apt/apt-helper download-file "${uri//\'/}" "$work/$tarball" "$indexed" >/dev/null 2>&1 ||
    { say "cannot download $tarball with SHA256:$sha256 from ${uri//\'/}" && exit 1; }
  tar -xzf "$work/$tarball" -C "$work"
done
say "building DOSBox 0.74-3 and SDL 1.2.15 for Windows (i686) in $work; about 2 minutes on 2 cores"
jobs=$(nproc)
# Runs a build step with its output in NAME.log in the build folder; shows its end on failure.
step() {
  local name=$1
  shift
  "$@" >"$work/$name.log" 2>&1 || { tail -n 20 "$work/$name.log" >&2 && say "$name failed" && exit 1; }
}
(
  cd "$work"/SDL-1.2.15
  step sdl-configure ./configure --host=$host --prefix="$work/sdl" --disable-shared --enable-static
  step sdl-make make -j"$jobs"
  step sdl-install make install
  cd "$work"/dosbox-0.74-3
  # SDL's static library needs these Windows libraries after it; -static leaves out MinGW's
  # runtime DLLs, which a Windows machine does not have.
  step dosbox-configure ./configure --host=$host --with-sdl-prefix="$work/sdl" LDFLAGS=-static \
    LIBS="-luser32 -lgdi32 -lwinmm -ldxguid"
  step dosbox-make make -j"$jobs"
  $host-strip -o "$cache/DOSBox.exe.new" src/dosbox.exe
)
mv "$cache/DOSBox.exe.new" "$cache/DOSBox.exe"
echo "$inputs" >"$cache/inputs"
rm -rf "$work"
say "built $cache/DOSBox.exe in $((SECONDS - start)) s"
echo "$cache/DOSBox.exe"
