#!/usr/bin/env bash
# The package install's way through a bad day at the mirror, tried on a
# private apt configuration under build/ with local repositories made here
# (the machine's own apt configuration is never read or touched):
#  - one index of the "updates" suite has the wrong size, as while a mirror
#    syncs: apt-get update fails every time, the install goes on;
#  - so "updates" offers a newer amd64 build of a Multi-Arch: same package
#    whose i386 twin is missing: the resolver cannot pair them, and the
#    install resolves again against the release's own suite.
# apt-get runs with --simulate, so nothing is installed.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
work=$root/build/apt-bad-mirror-test
rm -rf "$work"
mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/state"
: > "$work/state/status"

# packages_index ARCH VERSION: one Multi-Arch: same package's index entry.
packages_index() {
  printf 'Package: pair-probe\nVersion: %s\nArchitecture: %s\nMulti-Arch: same\nMaintainer: test <test@localhost>\n' "$2" "$1"
  printf 'Filename: pool/pair-probe_%s_%s.deb\nSize: 1000\nDescription: a package whose two architectures must pair\n\n' "$2" "$1"
}

# suite NAME VERSION ARCH...: a suite whose Release lists each ARCH's index.
suite() {
  local name=$1 version=$2 dir=$work/repo/dists/$1
  shift 2
  local arch index lines=""
  for arch in "$@"; do
    index=main/binary-$arch/Packages
    mkdir -p "$dir/main/binary-$arch"
    packages_index "$arch" "$version" > "$dir/$index"
    xz -kf "$dir/$index"
    for file in "$index" "$index.xz"; do
      lines+=" $(sha256sum < "$dir/$file" | cut -d' ' -f1) $(stat -c %s "$dir/$file") $file"$'\n'
    done
    rm "$dir/$index"
  done
  printf 'Suite: %s\nCodename: %s\nDate: %s\nArchitectures: %s\nComponents: main\nSHA256:\n%s' \
    "$name" "$name" "$(date -Ru)" "$*" "$lines" > "$dir/Release"
}

suite release 1 amd64 i386
suite updates 2 amd64

# Served over HTTP on the loopback, as a mirror is: apt's http method checks
# each file's size as it downloads.
: > "$work/server.log"
python3 -m http.server --bind 127.0.0.1 --directory "$work/repo" 0 > "$work/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
for _ in $(seq 100); do
  port=$(sed -n 's/.*port \([0-9]*\).*/\1/p' "$work/server.log")
  [ -n "$port" ] && break
  sleep 0.05
done
cat > "$work/sources.list" <<LIST
deb [trusted=yes] http://127.0.0.1:$port release main
deb [trusted=yes] http://127.0.0.1:$port updates main
LIST

APT_OPTIONS=(
  -o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=$work/none"
  -o "Dir::State::Lists=$work/lists" -o "Dir::State::status=$work/state/status"
  -o "Dir::Cache=$work/cache" -o "APT::Architectures::=amd64" -o "APT::Architectures::=i386"
  -o "APT::Sandbox::User=$(id -un)" -o "Debug::NoLocking=1" -o "APT::Get::Simulate=true"
)
APT_UPDATE_TRIES=2 APT_RETRY_PAUSE=0
. "$root/scripts/lib/apt.sh"
apt_release_suite() { echo release; }
apt_sudo=()

# A good day first: the lists hold both suites, the updates for amd64 only.
apt-get "${APT_OPTIONS[@]}" update -qq
# Then the updates gain an i386 index that changes under its Release while
# the mirror syncs: apt keeps the lists it had for that suite.
suite updates 2 amd64 i386
packages_index i386 2.1 | xz > "$work/repo/dists/updates/main/binary-i386/Packages.xz"
# The server answers "not modified" by the second; the new Release is newer.
touch -d "@$(($(date +%s) + 10))" "$work/repo/dists/updates/Release"

log=$work/log
status=0
{ apt_update && apt_install pair-probe:amd64 pair-probe:i386; } > "$log" 2>&1 || status=$?
cat "$log"
expect() {
  grep -q "$1" "$log" || { echo "FAIL: the install did not say: $1"; exit 1; }
}
[ $status -eq 0 ] || { echo "FAIL: the install stopped (exit code $status)"; exit 1; }
expect "apt-get update failed (try 2 of 2)"
expect "going on without the indexes that failed"
expect "resolving against the release's own suite (release)"
echo "PASS: the install got through a failing index and unpaired architectures"
