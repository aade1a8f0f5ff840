#!/usr/bin/env bash
# A private environment for running the Windows program and its tests:
# a virtual display (Xvfb), a PulseAudio server whose only sink is the null
# sink "out" (record it with `parec -d out.monitor`), and a cached Wine prefix.
#
#   scripts/env/test-env.sh run CMD...   start, run CMD inside, stop; exits with CMD's code
#   scripts/env/test-env.sh start        start and write build/testenv/env (source it)
#   scripts/env/test-env.sh stop         stop what `start` started
#
# Which build and loader this host uses comes from scripts/lib/host.sh,
# decided by the caller (make test, make run) or here when run by hand. On the
# 64-bit path, `run` runs inside scripts/env/wine-qemu.sh, so the shipped 32-bit
# program runs there too (under qemu-i386), in the same prefix and with the
# same server as the 64-bit tests. `start` cannot: the 32-bit programs need
# the namespace that `run` makes.
#
# With KEEP_DISPLAY=1 an existing $DISPLAY is used instead of a virtual one.
# TESTENV_DIR (default build/testenv) and WINEPREFIX_OVERRIDE let several
# environments run side by side; a new prefix is copied from build/wineprefix
# when that one exists, since creating a prefix takes minutes.
# Only processes this script started are ended, by the PIDs it recorded.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
state="${TESTENV_DIR:-$root/build/testenv}"
envfile="$state/env"
. "$root/scripts/lib/host.sh"
host_decide

# Every Wine step of the set-up has a time limit: a step that hangs is ended
# (its process group, nothing else), named, and the set-up goes on. The
# step's own output is dropped: Wine's set-up chatter says nothing useful.
limited() {
  local seconds=$1 what=$2 status=0
  shift 2
  timeout -k 5 "$seconds" "$@" >/dev/null 2>&1 || status=$?
  if [ $status -eq 124 ] || [ $status -eq 137 ]; then
    echo "test-env: $what took more than $seconds s; ended it" >&2
  fi
  return $status
}

start() {
  mkdir -p "$state/runtime"
  chmod 700 "$state/runtime"
  : > "$state/pids"
  export XDG_RUNTIME_DIR="$state/runtime"
  host_check preset >/dev/null || exit 1
  export WINEARCH=$WINE_ARCH
  export WINEPREFIX="${WINEPREFIX_OVERRIDE:-$root/build/wineprefix-$WINEARCH}"
  export WINEDEBUG=-all
  # Wine maps non-ASCII file names between Windows and Unix only under a UTF-8 locale.
  export LANG=C.UTF-8

  if [ "${KEEP_DISPLAY:-0}" = 1 ] && [ -n "${DISPLAY:-}" ]; then
    echo "test-env: using display $DISPLAY"
  else
    # Xvfb picks a free display itself and names it on file descriptor 3, so
    # environments that start at the same moment never pick the same one.
    : > "$state/display"
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$state/display" >"$state/xvfb.log" 2>&1 &
    echo $! >> "$state/pids"
    for _ in $(seq 200); do [ -s "$state/display" ] && break; sleep 0.05; done
    export DISPLAY=":$(head -n 1 "$state/display")"
  fi

  # No shared memory with clients: its memfd transport can abort the server
  # when Wine's and parec's streams come and go quickly; copying is cheap here.
  pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --disable-shm=true \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=out rate=44100 channels=2" \
    >"$state/pulse.log" 2>&1 &
  echo $! >> "$state/pids"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink out >/dev/null

  local template="$root/build/wineprefix-$WINEARCH"
  if [ ! -f "$WINEPREFIX/system.reg" ] && [ "$WINEPREFIX" != "$template" ] && [ -f "$template/system.reg" ]; then
    # Hard links: the copy costs nothing, and Wine never writes into these
    # files in place (it replaces the registry files by renaming new ones).
    cp -al "$template" "$WINEPREFIX"
  fi
  mkdir -p "$WINEPREFIX"
  # One server for the whole run, kept alive between the many short Wine
  # processes of the tests.
  wineserver -p || true
  if [ "$SHIPPED_QEMU" = yes ] && [ ! -f "$WINEPREFIX/.wow64-ready" ]; then
    echo "test-env: making the Wine prefix ready for 32-bit programs under qemu (once)"
    limited 600 "preparing the prefix for qemu" "$root/scripts/env/wine-qemu.sh" prepare-prefix || true
  fi
  if [ ! -f "$WINEPREFIX/system.reg" ] && [ ! -f "$WINEPREFIX/.wow64-ready" ]; then
    echo "test-env: creating the Wine prefix (once)"
    WINEDLLOVERRIDES="mscoree,mshtml=" limited 300 "creating the prefix" "$WINE" wineboot -i || true
  fi
  if ! grep -q '^"Decorated"="N"' "$WINEPREFIX/user.reg" 2>/dev/null; then
    # No window manager runs on the virtual display: let Wine draw captions
    # and frames itself, as Windows would.
    limited 120 "setting the prefix's window frames" \
      "$WINE" reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f || true
  fi
  limited 120 "starting Wine in the prefix" "$WINE" cmd /c exit || true

  cat > "$envfile" <<VARS
export DISPLAY='$DISPLAY'
export XDG_RUNTIME_DIR='$XDG_RUNTIME_DIR'
export PULSE_SERVER='$PULSE_SERVER'
export WINEPREFIX='$WINEPREFIX'
export WINEDEBUG=-all
export LANG=C.UTF-8
export WINEARCH='$WINEARCH'
export HOST_RUNS_I386='$HOST_RUNS_I386' WINE_ARCH='$WINE_ARCH' SHIPPED_QEMU='$SHIPPED_QEMU'
export WINE='$WINE'
export TEST_PRESET='$TEST_PRESET'
VARS
}

stop() {
  [ -f "$envfile" ] && { . "$envfile"; wineserver -k 2>/dev/null || true; }
  if [ -f "$state/pids" ]; then
    while read -r pid; do
      [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    done < "$state/pids"
    rm -f "$state/pids"
  fi
  rm -f "$envfile"
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  run)
    shift
    if [ "$SHIPPED_QEMU" = yes ] && [ "${WINE_QEMU_REGISTERED:-}" != 1 ]; then
      exec "$root/scripts/env/wine-qemu.sh" run "$0" run "$@"
    fi
    trap stop EXIT
    start
    set +e
    "$@"
    exit $?
    ;;
  *) echo "usage: $0 start|stop|run CMD..." >&2; exit 2 ;;
esac
