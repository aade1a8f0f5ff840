# Sourced by the everyday scripts. Decides once, at the top of `make test` or
# `make run` and outside any namespace of ours, whether the kernel runs 32-bit
# x86 code, and from that which Windows build runs which tests under which
# loader. The decisions travel down in the environment; below the top, every
# script reads them and none probes again.
#
#   HOST_RUNS_I386  yes | no      the host's fact (probed once)
#   WINE_ARCH       win32 | win64 the path taken (FORCE_WINE_ARCH chooses one)
#   TEST_PRESET     mingw | mingw64   the build of the Windows tests
#   WINE            the Wine loader of that build
#   SHIPPED_QEMU    yes | no      the shipped 32-bit program runs under qemu-i386

# Succeeds when the kernel runs i386 programs. Inside the namespace that
# scripts/env/wine-qemu.sh makes, qemu runs every i386 program, so the answer
# there would be yes on any kernel: the probe refuses to run there (exit 2).
host_kernel_runs_i386() {
  if [ "${WINE_QEMU_REGISTERED:-}" = 1 ] || [ -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
    echo "host: inside the qemu namespace the kernel's 32-bit support cannot be probed;" \
      "the script that entered it must pass HOST_RUNS_I386 down" >&2
    return 2
  fi
  /lib/ld-linux.so.2 --version >/dev/null 2>&1
}

host_decide() {
  if [ -z "${HOST_RUNS_I386:-}" ]; then
    local status=0
    host_kernel_runs_i386 || status=$?
    case $status in
      0) HOST_RUNS_I386=yes ;;
      1|126|127) HOST_RUNS_I386=no ;;
      *) exit 2 ;;
    esac
  fi
  if [ -n "${FORCE_WINE_ARCH:-}" ]; then
    WINE_ARCH=$FORCE_WINE_ARCH
  elif [ "$HOST_RUNS_I386" = yes ]; then
    WINE_ARCH=win32
  else
    WINE_ARCH=win64
  fi
  case $WINE_ARCH in
    win32) TEST_PRESET=mingw WINE=wine SHIPPED_QEMU=no ;;
    win64) TEST_PRESET=mingw64 WINE=/usr/lib/wine/wine64 SHIPPED_QEMU=yes ;;
    *) echo "host: FORCE_WINE_ARCH must be win32 or win64, not '$WINE_ARCH'" >&2; exit 2 ;;
  esac
  export HOST_RUNS_I386 WINE_ARCH TEST_PRESET WINE SHIPPED_QEMU
}

# The folder a preset's programs are built into.
preset_bin() {
  case $1 in mingw) echo build/bin ;; *) echo "build/$1/bin" ;; esac
}

# in_test_env SCRIPT ARGS...: runs SCRIPT again inside the test environment
# (display, sink, prefix) unless this process is already in one.
in_test_env() {
  if [ -z "${PULSE_SERVER:-}" ] || [ -z "${WINE:-}" ]; then
    exec "$(dirname "${BASH_SOURCE[0]}")/../env/test-env.sh" run "$@"
  fi
}

host_describe() {
  local forced=""
  [ -n "${FORCE_WINE_ARCH:-}" ] && forced=" (chosen by FORCE_WINE_ARCH=$FORCE_WINE_ARCH)"
  echo "host: the kernel runs 32-bit x86 code: $HOST_RUNS_I386; path $WINE_ARCH$forced"
  echo "host: Windows tests: preset $TEST_PRESET ($(preset_bin "$TEST_PRESET")) under $WINE"
  if [ "$SHIPPED_QEMU" = yes ]; then
    echo "host: the shipped program and its tests: preset mingw (build/bin, shipped programs only) under wine through qemu-i386, in a private namespace"
  else
    echo "host: the shipped program and its tests: preset mingw (build/bin) under wine, no qemu"
  fi
}

# The self-check: stops in seconds, naming the problem, when the decisions do
# not fit this host. `loaders` before the builds, `builds` after them,
# `preset` (the Windows tests' build alone) where a test environment starts.
host_check() {
  local what=$1 root
  root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
  case $what in
    loaders)
      timeout -k 5 30 "$WINE" --version >/dev/null 2>&1 ||
        { echo "self-check: the loader $WINE cannot run on this host (path $WINE_ARCH)" >&2; return 1; }
      if [ "$SHIPPED_QEMU" = yes ]; then
        timeout -k 5 60 "$root/scripts/env/wine-qemu.sh" run wine --version >/dev/null ||
          { echo "self-check: wine cannot run under qemu-i386 in a private namespace here" >&2; return 1; }
      fi
      echo "self-check: $WINE runs here$([ "$SHIPPED_QEMU" = yes ] && echo ', and wine under qemu-i386')"
      ;;
    builds)
      host_check preset && PYTHONPATH="$root/tests/support" python3 "$root/scripts/lib/check_test_programs.py" mingw i386 -L shipped
      ;;
    preset)
      # The tests of TEST_PRESET; the test environment checks these again at
      # its start, where a decision made again inside would show.
      local machine=amd64
      [ "$TEST_PRESET" = mingw ] && machine=i386
      PYTHONPATH="$root/tests/support" python3 "$root/scripts/lib/check_test_programs.py" "$TEST_PRESET" "$machine" -LE shipped
      ;;
  esac
}
