#!/usr/bin/env bash
# Makes 32-bit x86 Linux programs (Wine's 32-bit loader among them) run here.
# Some virtual machines boot kernels whose 32-bit compatibility mode is off:
# their 32-bit ELF files fail with "Exec format error". There we register
# qemu's user-mode i386 emulator with binfmt_misc, so that every such program,
# including those Wine starts itself, runs through it. Elsewhere: nothing.
set -euo pipefail

probe=/lib/ld-linux.so.2
[ -x "$probe" ] || exit 0
"$probe" --version >/dev/null 2>&1 && exit 0

misc=/proc/sys/fs/binfmt_misc
[ -e "$misc/qemu-i386" ] && exit 0
mountpoint -q "$misc" || mount -t binfmt_misc binfmt_misc "$misc"
qemu=$(command -v qemu-i386-static) || { echo "enable-i386: qemu-i386-static is missing" >&2; exit 1; }
# ELF 32-bit little-endian, executable or shared object, machine i386; F: open the
# interpreter now, so it works inside any mount namespace.
printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:'"$qemu"':F' \
  > "$misc/register"
"$probe" --version >/dev/null 2>&1 || { echo "enable-i386: 32-bit programs still do not run" >&2; exit 1; }
echo "enable-i386: 32-bit programs run through qemu-i386 (slower than native)"
