#!/usr/bin/env bash
# Runs every test: the portable core natively under ASan/UBSan (unit tests and
# short fuzzer runs), then the Windows build's tests under Wine inside the
# private test environment. Expects both builds to exist (make test does that).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "== native core tests (ASan, UBSan)"
ctest --preset native

echo "== Windows tests under Wine"
scripts/test-env.sh run ctest --preset mingw
