#!/usr/bin/env bash
# Prints which Windows build this host can run under Wine: "win32" when the
# kernel executes 32-bit x86 programs (Wine's 32-bit loader among them), else
# "win64". Some virtual machines boot kernels with 32-bit mode switched off;
# there the tests run the 64-bit build of the same sources under wine64, and
# the shipped 32-bit program under qemu-i386 (scripts/wine-qemu.sh).
# FORCE_WINE_ARCH=win64 takes that path on any host, to try it out.
if [ -n "${FORCE_WINE_ARCH:-}" ]; then echo "$FORCE_WINE_ARCH"; exit 0; fi
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then echo win32; else echo win64; fi
