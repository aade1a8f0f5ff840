#!/usr/bin/env bash
# What `make test` does: installs what is missing, builds what this host
# tests, runs every test, and ends with the time each phase took.
#
# Builds: the portable core natively (under ASan/UBSan, and its engine and
# API tests under TSan), and the 32-bit Windows program. Where the kernel
# runs no 32-bit code, the 32-bit build makes only the shipped programs and
# the helpers of their tests, and the 64-bit build of the same sources
# carries the other Windows tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

phases=()
started=$(date +%s.%N)

seconds_since() { awk -v from="$1" -v now="$(date +%s.%N)" 'BEGIN { printf "%6.1f s", now - from }'; }

# phase NAME CMD...: runs CMD and notes how long it took.
phase() {
  local name=$1 start
  shift
  start=$(date +%s.%N)
  local status=0
  "$@" || status=$?
  phases+=("$(printf '%-32s %s' "$name" "$(seconds_since "$start")")")
  return $status
}

report() {
  local status=$?
  echo
  echo "== time per phase ($([ $status -eq 0 ] && echo passed || echo "FAILED, exit code $status"))"
  printf '   %s\n' "${phases[@]}"
  printf '   %-32s %s\n' "total" "$(seconds_since "$started")"
  if command -v ccache >/dev/null; then
    ccache --print-stats 2>/dev/null | awk '$1 == "direct_cache_hit" || $1 == "preprocessed_cache_hit" { hits += $2 }
      $1 == "cache_miss" { misses = $2 } END { printf "   ccache: %d hits, %d misses\n", hits, misses }'
  fi
  return $status
}
trap report EXIT

phase "install packages" bash scripts/install-deps.sh
ccache --zero-stats >/dev/null
# The host's facts and the path they choose, decided here once for
# everything below.
. scripts/lib/host.sh
host_decide
host_describe
phase "self-check: loaders" host_check loaders
phase "build native (ASan, UBSan)" scripts/build.sh native
phase "build native-tsan (engine, API)" scripts/build.sh native-tsan
if [ "$TEST_PRESET" = mingw ]; then
  phase "build mingw (32-bit, all)" scripts/build.sh mingw
else
  phase "build mingw (32-bit, shipped)" scripts/build.sh mingw SoundTestApp AudioDecode control_rects fault_probe main_dialog_test
  phase "build mingw64 (64-bit, all)" scripts/build.sh mingw64
fi
phase "self-check: builds" host_check builds
phase "native tests" scripts/run-tests.sh native
phase "ThreadSanitizer tests" scripts/run-tests.sh tsan
phase "Wine prefix (once, in build/)" scripts/run-tests.sh prefix
phase "Windows tests" scripts/run-tests.sh windows
