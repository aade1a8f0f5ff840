#!/usr/bin/env bash
# Fetches Debian's source packages of libogg and libvorbis, which the build
# compiles into the audio library (cmake/vorbis-libs.cmake). apt-get source
# downloads them through an apt configuration of our own: the machine's
# sources stay as they are, our list adds only the deb-src entries, and apt
# checks the archive's signatures and the files' checksums as always.
# Idempotent: once the sources are unpacked it only checks and returns.
#
# Usage: scripts/fetch-vorbis-sources.sh [DIR]   (default build/third_party)
set -euo pipefail
. "$(dirname "$0")/lib/apt.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
dest=${1:-$root/build/third_party}
stamp=$dest/src/.fetched
packages=(libogg libvorbis)

[ -f "$stamp" ] && exit 0

# apt-get source unpacks with dpkg-source, which comes with dpkg-dev.
if ! command -v dpkg-source >/dev/null; then
  apt_update
  apt_install dpkg-dev
fi

apt_dir=$dest/apt
rm -rf "$apt_dir" "$dest/src"
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial" "$apt_dir/sources.list.d" "$dest/src"
# The deb-src twins of the machine's own entries: the same mirrors, suites and
# keys serve the sources as serve its packages.
for f in /etc/apt/sources.list.d/*.sources; do
  [ -f "$f" ] && sed 's/^Types:.*/Types: deb-src/' "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$f" ] && sed -n 's/^deb\([[:space:]]\)/deb-src\1/p' "$f"
done >"$apt_dir/sources.list"

APT_OPTIONS=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache=$apt_dir/cache"
  # Our folders belong to whoever runs this; apt's download user may not enter them.
  -o "APT::Sandbox::User=$(id -un)"
)
echo "fetch-vorbis-sources: apt-get source ${packages[*]} into $dest/src"
apt_update
(cd "$dest/src" && apt-get "${APT_OPTIONS[@]}" source -qq "${packages[@]}" >/dev/null)

for p in "${packages[@]}"; do
  dir=$(find "$dest/src" -maxdepth 1 -type d -name "$p-[0-9]*" | head -n 1)
  [ -n "$dir" ] && [ -f "$dir/CMakeLists.txt" ] || { echo "fetch-vorbis-sources: $p did not unpack" >&2; exit 1; }
  ln -sfn "$(basename "$dir")" "$dest/src/$p"
done
touch "$stamp"
