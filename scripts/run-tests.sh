#!/usr/bin/env bash
# Runs every test: the portable core natively under ASan/UBSan (unit tests and
# short fuzzer runs), its engine and API tests under ThreadSanitizer, then the
# Windows tests under Wine. Expects the builds to exist (make test does that).
#
#   scripts/run-tests.sh [native|tsan|prefix|windows]...     (all four when none is named)
#
# Under Wine two private test environments (scripts/env/test-env.sh) run side by
# side, each with its own display, sound sink and copy of the prefix:
#  - the tests labelled "shipped" on the 32-bit build, the program as it ships
#    (under qemu-i386 where the kernel runs no 32-bit code);
#  - the others on the build this host runs best (64-bit where the kernel runs
#    no 32-bit code), two at a time; those that play to the sink hold a lock.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

native() {
  echo "== native core tests (ASan, UBSan)"
  ctest --preset native
}

tsan() {
  echo "== engine and API tests under ThreadSanitizer"
  ctest --preset native-tsan
}

# Made once and then copied: creating a prefix takes a minute.
prefix() {
  echo "== Wine prefix"
  scripts/env/test-env.sh run true
}

windows() {
  local shipped_log=build/testenv-shipped.log status=0
  # The shipped program's tests judge sound recorded while the other Windows
  # tests run beside them on two cores (and, under qemu, emulated): a shipped
  # test that fails gets one more run, and its first failure stays in the log.
  echo "== Windows tests under Wine: the shipped program (preset mingw) beside the rest"
  TESTENV_DIR="$root/build/testenv-shipped" WINEPREFIX_OVERRIDE="$root/build/wineprefix-$WINE_ARCH-shipped" \
    scripts/env/test-env.sh run ctest --preset mingw -L shipped --repeat until-pass:2 >"$shipped_log" 2>&1 &
  local shipped=$!
  scripts/env/test-env.sh run bash -c \
    'echo "== preset $TEST_PRESET"; ctest --preset "$TEST_PRESET" -LE shipped --parallel 2' || status=1
  wait "$shipped" || status=1
  echo "== the shipped program (preset mingw)"
  cat "$shipped_log"
  return $status
}

# Run by hand, it decides the host's path itself; under make test it is told.
. scripts/lib/host.sh
host_decide

[ $# -gt 0 ] || set -- native tsan prefix windows
for part in "$@"; do "$part"; done
