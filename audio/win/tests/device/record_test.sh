#!/usr/bin/env bash
# Plays through the real output device while the null sink's monitor is
# recorded, then checks the recording against what the program logged.
#
#   record_test.sh [ANALYSER OPTIONS...] -- PROGRAM.exe [ARGS...]
#
# Needs the test environment (scripts/env/test-env.sh): PULSE_SERVER and WINE.
# Only the capture process this script starts is stopped, by its PID.
# RECORD_KEEP=DIR keeps the last capture and the program's log there.
# RECORD_ANALYSER=SCRIPT checks the capture with another analyser than
# analyse_capture.py (same arguments, same exit codes).
#
# This machine's two cores are shared with other builds; when they starve
# Wine's and PulseAudio's threads, the sound server runs out of sound to
# play (an underrun: digital silence in the tone, after which it goes on
# late but whole). The analyser says so with exit code 3, and only then is
# the run repeated (up to RECORD_ATTEMPTS times, default 3). Any other
# failure, a wrong level, pitch or position above all, fails at once.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/playback_env.sh"

analyser_options=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do analyser_options+=("$1"); shift; done
[ "${1:-}" = "--" ] && shift
[ $# -ge 1 ] || { echo "usage: $0 [ANALYSER OPTIONS...] -- PROGRAM [ARGS...]" >&2; exit 2; }
: "${PULSE_SERVER:?run inside scripts/env/test-env.sh}"
attempts=${RECORD_ATTEMPTS:-3}

work=$(mktemp -d)
capture_pid=
stop_capture() {
  if [ -n "$capture_pid" ] && kill -0 "$capture_pid" 2>/dev/null; then
    kill -TERM "$capture_pid" 2>/dev/null || true
    wait "$capture_pid" 2>/dev/null || true
  fi
  capture_pid=
}
cleanup() {
  stop_capture
  if [ -n "${RECORD_KEEP:-}" ]; then
    mkdir -p "$RECORD_KEEP" && cp "$work"/capture.raw* "$work"/events.txt "$RECORD_KEEP"/ 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# One recorded run of the program and the check of it.
attempt() {
  rm -f "$work"/capture.raw* "$work/events.txt"
  python3 "$tools/capture.py" "$work/capture.raw" &
  capture_pid=$!
  for _ in $(seq 100); do [ -e "$work/capture.raw.ready" ] && break; sleep 0.05; done
  [ -e "$work/capture.raw.ready" ] || { echo "record_test: the capture did not start"; return 1; }
  wait_for_sink_in_step || return 1
  sleep 0.2  # some silence ahead of the program

  local status=0
  run_playing_program "$@" > "$work/events.txt" || status=$?
  sleep 0.3  # the last sound reaches the sink's monitor
  stop_capture

  cat "$work/events.txt"
  if [ "$status" -ne 0 ]; then
    echo "record_test: the program failed with status $status"
    return 1
  fi
  python3 "${RECORD_ANALYSER:-$tools/analyse_capture.py}" "${analyser_options[@]}" "$work/capture.raw" "$work/events.txt"
}

underrun_exit=3
for n in $(seq "$attempts"); do
  echo "== attempt $n of $attempts"
  status=0
  attempt "$@" || status=$?
  [ "$status" -eq 0 ] && exit 0
  [ "$status" -eq "$underrun_exit" ] || exit 1
  echo "record_test: the sound server underran; once more"
done
exit 1
