#!/usr/bin/env bash
# Runs every test: the portable core natively under ASan/UBSan (unit tests and
# short fuzzer runs) and its engine and API tests under TSan (built here),
# then the Windows build's tests under Wine inside the private test
# environment. Expects the other builds to exist (make test does that).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "== native core tests (ASan, UBSan)"
ctest --preset native

echo "== engine and API tests under ThreadSanitizer"
cmake --preset native-tsan >/dev/null && cmake --build --preset native-tsan && ctest --preset native-tsan

# The test environment names the Windows build this host can run: the 64-bit
# one where the kernel cannot run 32-bit programs.
echo "== Windows tests under Wine"
scripts/test-env.sh run bash -c 'echo "== preset $TEST_PRESET"; ctest --preset "$TEST_PRESET"'
