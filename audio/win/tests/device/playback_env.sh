# Sourced by the device test scripts: what a run of a program that plays into
# the test environment's null sink needs around it.

# The capture and analysis tools (audio/win/tools), which measure through
# tests/support/capture_analysis.py.
tools=$(cd "$(dirname "${BASH_SOURCE[0]}")/../../tools" && pwd)
export PYTHONPATH="$(cd "$tools/../../.." && pwd)/tests/support${PYTHONPATH:+:$PYTHONPATH}"

# The null sink, when no one asks it for low latency, renders up to two
# seconds ahead of its clock, and it stays that far ahead after a client
# arrives: sound then stalls until real time catches up. A recording of its
# monitor at low latency keeps it in step; wait_for_sink_in_step waits until
# it is.

# The null sink's current latency in microseconds.
sink_latency_usec() {
  pactl list sinks | awk '/^[[:space:]]+Latency:/ { print $2; exit }'
}

# Waits (at most 5 s) until the sink renders less than 30 ms ahead.
wait_for_sink_in_step() {
  local latency
  for _ in $(seq 100); do
    latency=$(sink_latency_usec)
    [ -n "$latency" ] && [ "$latency" -lt 30000 ] && return 0
    sleep 0.05
  done
  echo "playback_env: the null sink is still ${latency:-?} us ahead" >&2
  return 1
}

# The test environment's null sink "out", unloaded (its output goes away for
# every client) and loaded again as the default sink.
null_sink_args="sink_name=out rate=44100 channels=2"
unload_null_sink() {
  local module
  module=$(pactl list short modules | awk '/module-null-sink/ { print $1; exit }')
  [ -z "$module" ] || pactl unload-module "$module"
}
load_null_sink() {
  pactl load-module module-null-sink $null_sink_args >/dev/null
  pactl set-default-sink out
}

# Runs a Windows program under Wine, at a raised priority where allowed.
# Windows boosts the threads of audio programs; Wine on Linux does not, and
# the other builds on this shared machine would otherwise starve Wine's
# audio threads into gaps that have nothing to do with our code.
run_playing_program() {
  local loader=${WINE:-wine}
  if [ "$(nice -n -10 nice 2>/dev/null)" = "-10" ]; then
    timeout 120 nice -n -10 "$loader" "$@"
  else
    timeout 120 "$loader" "$@"
  fi
}
