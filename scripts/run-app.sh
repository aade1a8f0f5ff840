#!/usr/bin/env bash
# Starts the program under Wine. With a working display it runs there, with
# the machine's own sound. Without one it runs on a virtual display with a
# virtual sound sink, plays the bundled samples through the real dialog,
# prints what it did and what the sink heard, and saves screenshots in build/run/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

arch=$(scripts/wine-arch.sh)
if [ "$arch" = win32 ]; then
  bin=build/bin
  wine_loader=wine
else
  # This kernel cannot run 32-bit programs: run the 64-bit build of the same sources.
  echo "run-app: this machine cannot run 32-bit programs; running the 64-bit build instead"
  scripts/build.sh mingw64 >/dev/null
  bin=build/mingw64/bin
  wine_loader=/usr/lib/wine/wine64
fi

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  # A UTF-8 locale lets Wine map non-ASCII file names.
  export WINEPREFIX="$root/build/wineprefix-$arch" WINEARCH="$arch" WINEDEBUG=-all LANG=C.UTF-8
  [ -f "$WINEPREFIX/system.reg" ] || WINEDLLOVERRIDES="mscoree,mshtml=" "$wine_loader" wineboot -i >/dev/null 2>&1 || true
  exec "$wine_loader" "$bin/SoundTestApp.exe"
fi

echo "run-app: no display; running on a virtual display with a virtual sound sink"
exec scripts/test-env.sh run python3 scripts/demo_app.py \
  "$bin/SoundTestApp.exe" "$bin/control_rects.exe" "$root/samples" "$root/build/run"
