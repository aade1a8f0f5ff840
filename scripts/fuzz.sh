#!/usr/bin/env bash
# The fuzz run (make fuzz): every libFuzzer target of the native build (the
# executables named fuzz_*, from audio/fuzz/) runs in turn for SECONDS, over a
# scratch corpus under build/fuzz/<name>/ that starts as a copy of its
# committed seeds (audio/fuzz/corpus/<name>/) and keeps what earlier runs
# found. The repository is not changed. Reports each crash with its
# reproducer's path, and exits non-zero when there was one.
#
#   scripts/fuzz.sh [SECONDS [NAME...]]     (default 600 s each, every fuzzer)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-600}
shift || true
cd "$root"

cmake --preset native >/dev/null
cmake --build --preset native -j2 >/dev/null

if [ $# -gt 0 ]; then
  fuzzers=()
  for name in "$@"; do fuzzers+=("$(find build/native -type f -perm -u+x -name "$name" | head -n 1)"); done
else
  mapfile -t fuzzers < <(find build/native -type f -perm -u+x -name 'fuzz_*' | sort)
fi
if [ ${#fuzzers[@]} -eq 0 ] || [ -z "${fuzzers[0]}" ]; then
  echo "fuzz: no fuzzer found under build/native" >&2
  exit 2
fi

crashed=0
for fuzzer in "${fuzzers[@]}"; do
  name=$(basename "$fuzzer")
  work="$root/build/fuzz/$name"
  mkdir -p "$work/corpus" "$work/crashes"
  seeds="$root/audio/fuzz/corpus/$name"
  [ -d "$seeds" ] && cp -n "$seeds"/* "$work/corpus/" 2>/dev/null || true
  before=$(ls "$work/crashes" | wc -l)
  echo "== $name: $seconds s over $(ls "$work/corpus" | wc -l) inputs"
  set +e
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$work/crashes/" "$work/corpus" >"$work/log.txt" 2>&1
  code=$?
  set -e
  grep -E '^(Done|stat::number_of_executed_units|stat::new_units_added|stat::peak_rss_mb)' "$work/log.txt" \
    | sed 's/^/   /' || true
  # New files in crashes/ are reproducers (crash-, leak-, timeout-, oom-).
  found=$(ls -t "$work/crashes" | head -n $(( $(ls "$work/crashes" | wc -l) - before )))
  if [ "$code" -ne 0 ] || [ -n "$found" ]; then
    crashed=1
    echo "   FAILED (exit $code); log: $work/log.txt"
    grep -m 3 -E 'ERROR: |SUMMARY: ' "$work/log.txt" | sed 's/^/   /' || true
    for file in $found; do
      echo "   reproducer: $work/crashes/$file"
      echo "   rerun with: $fuzzer $work/crashes/$file"
    done
  else
    echo "   no crash"
  fi
done
exit $crashed
