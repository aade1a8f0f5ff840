#!/usr/bin/env bash
# Configures and builds one CMake preset, through ccache when it is installed.
#
#   scripts/build.sh PRESET [TARGET...]     (all targets when none is named)
#
# ccache keys on paths relative to the source tree, so a fresh clone in
# another folder reuses what an earlier one compiled.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
preset=$1
shift

launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake --preset "$preset" "${launcher[@]}" >/dev/null

targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake --build --preset "$preset" --parallel "${BUILD_JOBS:-2}" "${targets[@]}"
