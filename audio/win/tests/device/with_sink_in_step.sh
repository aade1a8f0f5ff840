#!/usr/bin/env bash
# Runs a device test while a low-latency recording of the null sink's
# monitor keeps the sink in step with its clock (see playback_env.sh).
#
#   with_sink_in_step.sh PROGRAM.exe [ARGS...]
#
# Needs the test environment (scripts/env/test-env.sh). Only the recording this
# script starts is stopped, by its PID.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/playback_env.sh"
: "${PULSE_SERVER:?run inside scripts/env/test-env.sh}"

parec -d out.monitor --raw --latency-msec=5 > /dev/null &
recorder=$!
trap 'kill "$recorder" 2>/dev/null || true; wait "$recorder" 2>/dev/null || true' EXIT
wait_for_sink_in_step
run_playing_program "$@"
