#!/usr/bin/env bash
# DOSBox 0.74-3 for Windows, the program users run, built from the sources in Debian's archive:
# DOSBox 0.74-3 itself and SDL 1.2.15, which it links statically, cross-compiled for i686 with
# MinGW-w64 and linked statically, so that it needs only Windows' own DLLs.
#   windows-dosbox.sh         builds it unless the cache holds a build of this checkout's inputs,
#                             and prints where DOSBox.exe is
#   windows-dosbox.sh path    prints where this checkout's DOSBox.exe is, building nothing; fails,
#                             naming the command that builds it, when the cache has none
# Needs no root, and changes nothing on the machine outside its cache, which lies outside the
# checkout ($XDG_CACHE_HOME, else ~/.cache), so that a fresh clone on the same machine reuses it:
#   sources/          the two upstream tarballs, kept once verified and checked against the
#                     SHA-256 pinned below before every use: a rebuild needs no network
#   apt/              a private apt state (entries, lists, cache) that finds the tarballs in
#                     Debian's source archive; the machine's own apt files are only read
#   builds/INPUTS/    DOSBox.exe, one folder for each set of inputs (this script and the
#                     compiler's version), side by side
# Neither source is changed. What the official Windows build has and this one lacks: SDL_net
# (IPX networking and the modem's serial port types), whose source is not in the archive here,
# and libpng (screenshots with Ctrl-F5); nothing the launcher or its tests reach.
set -euo pipefail
tools=$(cd "$(dirname "$0")" && pwd)

cache=${XDG_CACHE_HOME:-$HOME/.cache}/pb35-launcher/dosbox-0.74-3-windows
# Source package, its upstream tarball and that tarball's SHA-256 (as the source index has it).
sources=(
  "dosbox dosbox_0.74-3.orig.tar.gz c0d13dd7ed2ed363b68de615475781e891cd582e8162b5c3669137502222260a"
  "libsdl1.2 libsdl1.2_1.2.15+dfsg2.orig.tar.gz ec4d5ea4714b92f840aafcf8c759cf7914827f632e19f42b18ba6f6489f0f5e9"
)
host=i686-w64-mingw32
say() { echo "windows-dosbox: $*" >&2; }

compiler=$("$host-g++" --version 2>/dev/null | head -n 1) ||
  { say "there is no $host-g++ to build with (bash tools/setup.sh installs it)" && exit 1; }
inputs=$( (cat "$0" && echo "$compiler") | sha256sum | cut -c1-16)
build=$cache/builds/$inputs
if [ "${1:-}" = path ]; then
  [ -s "$build/DOSBox.exe" ] ||
    { say "no DOSBox for Windows built from this checkout's inputs ($build); 'bash tools/windows-dosbox.sh' builds it" && exit 1; }
  echo "$build/DOSBox.exe"
  exit
fi

mkdir -p "$cache/sources"
exec 9>"$cache/lock"
flock -w 1800 9 || { say "waited 30 min for another build in $cache" && exit 1; }
if [ -s "$build/DOSBox.exe" ]; then
  echo "$build/DOSBox.exe"
  exit
fi

apt_state=$cache/apt
# apt with the private state: the machine's configuration (proxies, keys) is read, but its own
# entries, lists and caches are left alone, and so are the hooks it runs after an update (they
# refresh other programs' caches).
private_apt() { "$1" -c "$apt_state/apt.conf" "${@:2}"; }
# Makes the private state: the deb-src twins of the machine's entries for Debian's own archive
# (tools/deb_src_entries.py), and their source index.
make_apt_state() {
  local SourceList SourceParts
  eval "$(apt-config shell SourceList Dir::Etc::SourceList/f SourceParts Dir::Etc::SourceParts/d)"
  rm -rf "$apt_state"
  mkdir -p "$apt_state/sources.list.d" "$apt_state/lists/partial" "$apt_state/cache/archives/partial"
  touch "$apt_state/sources.list"
  cat >"$apt_state/apt.conf" <<CONF
Dir::Etc::SourceList "$apt_state/sources.list";
Dir::Etc::SourceParts "$apt_state/sources.list.d";
Dir::State::Lists "$apt_state/lists";
Dir::Cache "$apt_state/cache";
Dir::Cache::Archives "$apt_state/cache/archives";
#clear APT::Update::Pre-Invoke;
#clear APT::Update::Post-Invoke;
#clear APT::Update::Post-Invoke-Success;
// Downloads into a folder of the caller's, which apt's own download user may not reach.
APT::Sandbox::User "$(id -un)";
CONF
  . /etc/os-release
  apt-cache policy >"$apt_state/policy"
  python3 "$tools/deb_src_entries.py" "$VERSION_CODENAME" "$apt_state/policy" "$apt_state/sources.list.d" \
    "$SourceList" "$SourceParts"*.list "$SourceParts"*.sources || exit 1
  # An index the archive lacks (a suite's updates may have no source index) fails no build by
  # itself: the look-up of each tarball says whether it was found, and what the update said.
  private_apt apt-get update -qq >"$apt_state/update.log" 2>&1 || true
}
update_said() { grep -E '^(E|W):' "$apt_state/update.log" 2>/dev/null | head -n 2 | paste -sd ' '; }

# Has the tarball in sources/, verified: from the cache, else from Debian's source archive.
verified() { echo "$3  $cache/sources/$2" | sha256sum -c --status 2>/dev/null; }
fetch() {
  local package=$1 tarball=$2 sha256=$3 uri indexed
  ! verified "$@" || return 0
  [ -s "$apt_state/apt.conf" ] || make_apt_state
  # The URI and hash the source index gives for the tarball; apt's helper checks the download.
  read -r uri _ _ indexed < <(private_apt apt-get source --print-uris "$package" 2>/dev/null | grep -F " $tarball ") ||
    { say "the source index has no $tarball for $package (nor does $cache/sources); apt's update said: $(update_said)" && exit 1; }
  [ "$indexed" = "SHA256:$sha256" ] ||
    { say "the source index gives $tarball as $indexed, not the SHA256:$sha256 built here" && exit 1; }
  private_apt /usr/lib/apt/apt-helper download-file "${uri//\'/}" "$cache/sources/$tarball.new" "$indexed" >/dev/null 2>&1 ||
    { say "cannot download $tarball with SHA256:$sha256 from ${uri//\'/}" && exit 1; }
  mv "$cache/sources/$tarball.new" "$cache/sources/$tarball"
  verified "$@" || { say "$tarball does not have the SHA-256 $sha256" && exit 1; }
}

work=$cache/work
rm -rf "$work" "$apt_state/apt.conf"
mkdir -p "$work/sdl"
start=$SECONDS
for source in "${sources[@]}"; do
  read -r package tarball sha256 <<<"$source"
  fetch "$package" "$tarball" "$sha256"
  tar -xzf "$cache/sources/$tarball" -C "$work"
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
  mkdir -p "$build"
  $host-strip -o "$build/DOSBox.exe.new" src/dosbox.exe
)
mv "$build/DOSBox.exe.new" "$build/DOSBox.exe"
rm -rf "$work"
say "built $build/DOSBox.exe in $((SECONDS - start)) s"
echo "$build/DOSBox.exe"
