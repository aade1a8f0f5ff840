#!/usr/bin/env bash
# Runs CMD as it would run on a host whose kernel runs no 32-bit x86 code, on
# any host: in a private user and mount namespace, binfmt_misc hands every
# i386 ELF file to a refuser that fails the way such a kernel does ("Exec
# format error", exit code 126). Nothing is forced: CMD finds out for itself.
#
#   scripts/simulate-no-i386.sh make test
#   scripts/simulate-no-i386.sh make run
#
# Needs Linux 6.7 or later (binfmt_misc of its own in a user namespace), as
# the qemu path itself does, and the packages already installed (make deps
# outside): inside, only root is mapped, so dpkg cannot hand files to other
# users. The host's own binfmt_misc settings are left alone.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
binfmt=/proc/sys/fs/binfmt_misc

# The i386 ELF header, as scripts/env/wine-qemu.sh matches it.
i386_magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
i386_mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'

refuser=$root/build/no-i386/refuse
if [ "${1:-}" != in-namespace ]; then
  [ $# -gt 0 ] || { echo "usage: $0 CMD..." >&2; exit 2; }
  if [ ! -x "$refuser" ] || [ "$0" -nt "$refuser" ]; then
    mkdir -p "$(dirname "$refuser")"
    gcc -O2 -static -x c -o "$refuser" - <<'C'
#include <stdio.h>
/* binfmt_misc starts this with the refused file's path as argv[1]. */
int main(int argc, char **argv) {
  fprintf(stderr, "%s: cannot execute binary file: Exec format error\n", argc > 1 ? argv[1] : "?");
  return 126;
}
C
  fi
  exec unshare --user --map-root-user --mount -- "$0" in-namespace "$@"
fi

shift
mount -t binfmt_misc binfmt_misc "$binfmt" || {
  echo "simulate-no-i386: cannot mount binfmt_misc in a private namespace (needs Linux 6.7 or later)" >&2
  exit 1
}
printf '%s' ":no-i386:M::$i386_magic:$i386_mask:$refuser:F" > "$binfmt/register"
# apt's download user is not mapped here; a fetch of sources downloads as root.
apt_config=$root/build/no-i386/apt.conf
echo 'APT::Sandbox::User "root";' > "$apt_config"
export APT_CONFIG=$apt_config
echo "simulate-no-i386: i386 programs are refused here, as on a kernel without 32-bit support"
exec "$@"
