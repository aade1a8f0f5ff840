#!/usr/bin/env bash
# Runs the shipped 32-bit Windows program where the kernel runs no 32-bit
# code: Wine's 32-bit processes go through qemu-user's i386 emulator, while
# the Wine server, services and 64-bit processes stay native.
#
#   scripts/env/wine-qemu.sh run CMD...        run CMD with the emulator registered
#   scripts/env/wine-qemu.sh prepare-prefix    make $WINEPREFIX ready for 32-bit programs
#                                          (inside `run`, before any Wine process)
#
# Inside `run`, a 32-bit ELF started anywhere below CMD (Wine's 32-bit loader,
# which wine64 starts for a PE32 program) runs under qemu-i386-static.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
shim_source="$root/scripts/env/qemu-i386/wine_shim.c"
shim_dir="$root/build/qemu-i386"
binfmt=/proc/sys/fs/binfmt_misc

# The i386 ELF header (executables and shared objects) as binfmt_misc matches it.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

# The preloaded work-arounds (see wine_shim.c), compiled for i386 without any
# 32-bit C library package. LD_PRELOAD names it through $LIB, which the i386
# loader reads as lib/i386-linux-gnu and the amd64 one as lib/x86_64-linux-gnu:
# 64-bit processes (the Wine server, wine64, the tools) find an empty library
# there instead of complaining about a 32-bit one. The emulated process hands
# its environment on to 64-bit children, so the variable reaches both kinds.
build_shim() {
  local shim="$shim_dir/lib/i386-linux-gnu/wine_shim.so" empty="$shim_dir/lib/x86_64-linux-gnu/wine_shim.so"
  if [ ! -f "$shim" ] || [ "$shim_source" -nt "$shim" ]; then
    mkdir -p "$(dirname "$shim")" "$(dirname "$empty")"
    gcc -m32 -nostdlib -shared -fPIC -O2 -Wall -o "$shim.tmp" "$shim_source"
    mv "$shim.tmp" "$shim"
    echo 'int wine_shim_is_empty_here;' | gcc -shared -x c -o "$empty" -
  fi
}

# Debian's qemu-user-static does not register i386 on amd64 (it would catch
# the host's own 32-bit programs where the kernel runs them). A private user
# and mount namespace gets its own binfmt_misc, so the registration leaves the
# host's settings alone and ends with CMD. The F flag opens the emulator now,
# so it is found whatever root the 32-bit process later sees.
register_emulator() {
  mount -t binfmt_misc binfmt_misc "$binfmt"
  printf '%s' ":qemu-i386:M::$i386_magic:$i386_mask:/usr/bin/qemu-i386-static:F" > "$binfmt/register"
}

run() {
  build_shim
  if [ "${WINE_QEMU_REGISTERED:-}" != 1 ]; then
    exec unshare --user --map-root-user --mount -- "$0" in-namespace "$@"
  fi
  "$@"
}

in_namespace() {
  register_emulator || {
    echo "wine-qemu: cannot register qemu-i386-static in a private namespace (needs Linux 6.7 or later)" >&2
    exit 1
  }
  export WINE_QEMU_REGISTERED=1
  export LD_PRELOAD="$shim_dir/\$LIB/wine_shim.so${LD_PRELOAD:+ $LD_PRELOAD}"
  exec "$@"
}

# wine64 makes the prefix natively, but does not find Debian's 32-bit
# Windows DLLs: they go into syswow64 before `wineboot -i`. The 32-bit half of
# the registry (COM classes among it) is written only by a 32-bit wineboot;
# without it waveOutOpen fails with "class not registered".
prepare_prefix() {
  [ "${WINE_QEMU_REGISTERED:-}" = 1 ] || { echo "wine-qemu: prepare-prefix runs inside 'run'" >&2; exit 2; }
  [ -f "$WINEPREFIX/.wow64-ready" ] && return 0
  mkdir -p "$WINEPREFIX/drive_c/windows/syswow64"
  cp -a /usr/lib/i386-linux-gnu/wine/i386-windows/. "$WINEPREFIX/drive_c/windows/syswow64/"
  # Each step has a time limit; a prefix whose 32-bit half timed out is not
  # marked ready, so the next run tries again.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  timeout -k 5 300 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  local status=0
  timeout -k 5 300 /usr/lib/wine/wine wineboot -u >/dev/null 2>&1 || status=$?
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "wine-qemu: the 32-bit wineboot took more than 300 s; ended it" >&2
    return 1
  fi
  touch "$WINEPREFIX/.wow64-ready"
}

case "${1:-}" in
  run) shift; run "$@" ;;
  in-namespace) shift; in_namespace "$@" ;;
  prepare-prefix) prepare_prefix ;;
  *) echo "usage: $0 run CMD... | prepare-prefix" >&2; exit 2 ;;
esac
