#!/usr/bin/env bash
# Runs every test: the portable core natively under ASan/UBSan (unit tests and
# short fuzzer runs), then the Windows build's tests under Wine inside the
# private test environment. Expects the builds to exist (make test does that).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

echo "== native core tests (ASan, UBSan)"
ctest --preset native

preset=mingw
if [ "$(scripts/wine-arch.sh)" = win64 ]; then
  echo "== this kernel cannot run 32-bit programs: Windows tests use the 64-bit build"
  preset=mingw64
fi
echo "== Windows tests under Wine ($preset)"
scripts/test-env.sh run ctest --preset "$preset"
