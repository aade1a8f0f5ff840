#!/usr/bin/env bash
# The output device goes away while the library plays, and comes back:
# unloads the null sink while bass_device_loss_check plays a rising tone,
# checks that the library reports the stream stalled without using the CPU,
# loads a sink again, and checks by recording that the tone goes on from
# the position where it stopped (its pitch tells the position).
#
#   device_loss_test.sh resume|fresh|free DEVICE BASS_DEVICE_LOSS_CHECK.exe
#   resume: a pipe sink comes back, which keeps to its clock.
#   fresh: a freshly loaded null sink comes back, recorded from its monitor.
#   free: the sink stays away, and BASS_Free must return promptly.
#   DEVICE: the library's device number, 1 or -1.
#
# Needs the test environment (scripts/env/test-env.sh). Only the
# processes this script starts are stopped, by their PIDs; the sink is
# always loaded again before it exits. RECORD_KEEP=DIR keeps the captures
# and logs there.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/playback_env.sh"
: "${PULSE_SERVER:?run inside scripts/env/test-env.sh}"
mode=$1
device=$2
program=$3

work=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  restore_null_sink
  if [ -n "${RECORD_KEEP:-}" ]; then mkdir -p "$RECORD_KEEP" && cp "$work"/*.raw* "$work"/*.txt "$RECORD_KEEP"/ 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# Starts capture.py into $1.
start_capture() {
  python3 "$tools/capture.py" "$1" &
  pids+=($!)
}
# Waits until the capture into $1 receives sound data.
wait_for_capture() {
  for _ in $(seq 100); do [ -e "$1.ready" ] && return 0; sleep 0.05; done
  echo "device_loss_test: the capture did not start"; return 1
}
# Waits (at most $2 s) until the program has logged state $1.
wait_for_state() {
  for _ in $(seq $(( $2 * 20 ))); do
    grep -q "^state $1 " "$work/events.txt" 2>/dev/null && return 0
    sleep 0.05
  done
  echo "device_loss_test: the program never reported $1"; return 1
}
# CPU seconds used so far by process $1 (user + system).
cpu_seconds() {
  awk -v hz="$(getconf CLK_TCK)" '{ print ($14 + $15) / hz }' "/proc/$1/stat"
}

# Unloads the sink once the program plays, and logs the process's CPU use
# while the library reports the stream stalled.
lose_the_sink() {
  wait_for_state playing 10 || return 1
  sleep 1.5
  # What the sound server holds of the stream, lost with the sink.
  pactl list sink-inputs | awk '/Buffer Latency:|Sink Latency:/ { us += $3 }
    END { printf "figure held_by_server %.1f ms\n", us / 1000 }' >> "$work/marks.txt"
  echo "unload $(date +%s.%N)" >> "$work/marks.txt"
  unload_null_sink
  wait_for_state stalled 5 || return 1
  local wine_pid before
  wine_pid=$(pgrep -n -f "^[^ ]*$(basename "$program")" || true)
  [ -n "$wine_pid" ] || return 0
  before=$(cpu_seconds "$wine_pid")
  sleep 1
  echo "figure process_cpu_while_stalled $(echo "$(cpu_seconds "$wine_pid") $before" |
    awk '{ printf "%.1f", ($1 - $2) * 100 }') percent" >> "$work/marks.txt"
}

# A null sink renders two seconds ahead of its clock from the moment it is
# loaded, and Wine drops what a sink does not take in time. So the sink
# that comes back is a pipe sink, which keeps to the clock, written into a
# FIFO whose reader is already waiting: the recording cannot miss a frame.
bring_the_sink_back() {
  mkfifo "$work/sink.fifo"
  cat "$work/sink.fifo" > "$work/after.raw" &
  local reader=$!
  pids+=("$reader")
  # The reader must hold the FIFO open before the sink writes into it.
  for _ in $(seq 200); do
    ls -l "/proc/$reader/fd" 2>/dev/null | grep -q sink.fifo && break
    sleep 0.01
  done
  echo "load $(date +%s.%N)" >> "$work/marks.txt"
  pactl load-module module-pipe-sink file="$work/sink.fifo" format=s16le $null_sink_args \
    use_system_clock_for_timing=yes >/dev/null
  pactl set-default-sink out
}

# Loads a fresh null sink, as a user's new device would appear, and records
# its monitor from then on. Such a sink renders up to two seconds ahead of
# its clock; what it is ahead when the program's stream arrives (its sink
# latency then) is sound the program hands over that the sink will not
# take in time, and Wine drops it: logged as the figure sink_lead.
bring_a_fresh_sink_back() {
  echo "load $(date +%s.%N)" >> "$work/marks.txt"
  load_null_sink
  start_capture "$work/after.raw"
  local lead=""
  for _ in $(seq 100); do
    lead=$(pactl list sink-inputs | awk '/Sink Latency:/ { print $3 / 1000; exit }')
    [ -n "$lead" ] && break
    sleep 0.02
  done
  echo "figure sink_lead ${lead:-0} ms" >> "$work/marks.txt"
}

# Puts the test environment's null sink back in place of the pipe sink.
restore_null_sink() {
  local module
  module=$(pactl list short modules | awk '/module-pipe-sink/ { print $1; exit }')
  [ -z "$module" ] || pactl unload-module "$module"
  pactl list short sinks | grep -qw out || load_null_sink
}

# One run of the program through the loss, and the check of it.
attempt() {
  rm -f "$work"/*.raw* "$work"/*.txt "$work/sink.fifo"
  start_capture "$work/before.raw"
  wait_for_capture "$work/before.raw" || return 1
  wait_for_sink_in_step || return 1
  local program_mode=$mode
  [ "$mode" = fresh ] && program_mode=resume
  run_playing_program "$program" "$program_mode" "$device" "Z:$work/rising.wav" > "$work/events.txt" &
  local program_pid=$! status=0
  pids+=("$program_pid")
  lose_the_sink || return 1
  case $mode in
    resume) sleep 0.5; bring_the_sink_back ;;
    fresh) sleep 0.5; bring_a_fresh_sink_back ;;
  esac
  wait "$program_pid" || status=$?
  sleep 0.3
  restore_null_sink
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
  pids=()
  cat "$work/events.txt" "$work/marks.txt"
  if [ "$status" -ne 0 ]; then
    echo "device_loss_test: the program failed with status $status"
    return 1
  fi
  python3 "$tools/device_loss_analyse.py" "$mode" "$work"
}

python3 "$tools/device_loss_analyse.py" tone "$work/rising.wav"
# Repeated only when the failures lie next to an underrun in the sound
# server (exit code 3 of the analyser), as record_test.sh does.
underrun_exit=3
for n in $(seq "${RECORD_ATTEMPTS:-3}"); do
  echo "== attempt $n"
  status=0
  attempt || status=$?
  [ "$status" -eq 0 ] && exit 0
  [ "$status" -eq "$underrun_exit" ] || exit 1
done
exit 1
