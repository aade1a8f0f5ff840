#!/usr/bin/env bash
# Starts the program under Wine. With a working display it runs there, with
# the machine's own sound. Without one it runs on a virtual display with a
# virtual sound sink, plays the bundled samples through the real dialog,
# prints what it did and what the sink heard, and saves screenshots in build/run/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The host's facts, decided here once for the test environment below too.
. scripts/lib/host.sh
host_decide
host_describe
host_check loaders
if [ "$TEST_PRESET" != mingw ]; then
  # This path runs no 32-bit program natively: run the 64-bit build of the same sources.
  echo "run-app: running the 64-bit build of the same sources"
  scripts/build.sh mingw64 >/dev/null
fi
bin=$(preset_bin "$TEST_PRESET")

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  # A UTF-8 locale lets Wine map non-ASCII file names.
  export WINEPREFIX="$root/build/wineprefix-$WINE_ARCH" WINEARCH="$WINE_ARCH" WINEDEBUG=-all LANG=C.UTF-8
  [ -f "$WINEPREFIX/system.reg" ] || WINEDLLOVERRIDES="mscoree,mshtml=" timeout -k 5 300 "$WINE" wineboot -i >/dev/null 2>&1 || true
  exec "$WINE" "$bin/SoundTestApp.exe"
fi

echo "run-app: no display; running on a virtual display with a virtual sound sink"
exec scripts/env/test-env.sh run env PYTHONPATH="$root/tests/support" python3 scripts/demo_app.py \
  "$bin/SoundTestApp.exe" "$bin/control_rects.exe" "$root/samples" "$root/build/run"
