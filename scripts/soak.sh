#!/usr/bin/env bash
# The soak run (make soak): the Windows build's soak program cycles streams
# of WAV (PCM and compressed), MP3 and Ogg files through create, play,
# pause/resume and stop/free, and decode channels through create, read and
# free, in several threads at once that also share one stream, 10,000 times
# on the null device (0), then 1,000 times on the real one (1, the test
# environment's null sink), and fails when the open handles, private bytes
# or held streams do not stay flat. During the run on the real device the
# sink is unloaded every few seconds and loaded again a moment later.
#
#   scripts/soak.sh [NULL_CYCLES [DEVICE_CYCLES]]     (default 10000 1000)
#
# Figures come every 1,000 cycles on the null device; every 100 on the real
# one, whose run is shorter. The soak program's open host file descriptors
# are sampled every second, and their first, last and highest count printed.
# Runs itself inside the test environment (scripts/env/test-env.sh) when not
# already there, and builds only the soak program of the preset the
# environment names.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
null_cycles=${1:-10000}
device_cycles=${2:-1000}

. "$root/scripts/lib/host.sh"
in_test_env "$root/scripts/soak.sh" "$@"
preset=$TEST_PRESET
cd "$root"
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" --target soak -j2 >/dev/null
bin="$root/$(preset_bin "$preset")"

# The committed samples and fixtures (half a second or more each: a stream
# must not end within a cycle), and the PCM layouts none of them has.
made="$root/build/soak"
mkdir -p "$made"
tone() { sox -n "$@" synth 1 sine 440 vol 0.5; }
tone -r 22050 -c 1 -b 8 -e unsigned-integer "$made/pcm8_mono.wav"
tone -r 48000 -c 2 -b 24 -e signed-integer "$made/pcm24_stereo.wav"
tone -r 44100 -c 2 -b 32 -e floating-point "$made/float32_stereo.wav"
tone -r 44100 -c 6 -b 16 -e signed-integer "$made/pcm16_6ch.wav"

# Wine sees the host's files on drive Z:.
files=()
for file in samples/chime.wav samples/chime.mp3 samples/chime.ogg \
            audio/tests/data/*.mp3 audio/tests/data/*.ogg \
            audio/win/tests/data/*.wav audio/win/tests/data/*.mp3 \
            build/soak/*.wav; do
  case $file in *unbuildable*) continue ;; esac  # made to be refused
  files+=("Z:$root/$file")
done

. "$root/audio/win/tests/device/playback_env.sh"
# Seconds the sink stays, and stays away, in each round of the real device's run.
sink_present_s=4
sink_away_s=1.5

# Takes the sink away and brings it back, round after round, until killed;
# the soak program may meet it missing at any call.
flap_the_sink() {
  trap 'pactl list short sinks | grep -qw out || load_null_sink; exit 0' TERM
  while :; do
    sleep "$sink_present_s" & wait $!
    unload_null_sink
    sleep "$sink_away_s" & wait $!
    load_null_sink
  done
}

# Counts the open host file descriptors of process $1 every second into $2
# while it runs, from 3 s on, once Wine has started.
sample_descriptors() {
  sleep 3
  while [ -d "/proc/$1/fd" ]; do
    ls "/proc/$1/fd" 2>/dev/null | wc -l >> "$2"
    sleep 1
  done
}

# Runs soak.exe on device $1 for $2 cycles, figures every $3, and prints
# the host file descriptors it held. A program that hangs (Wine's debugger
# waiting after a crash in its sound driver, say) is ended after
# $soak_limit_s seconds. Wine execs the program in the process it starts
# in, the only child of timeout.
soak_limit_s=${SOAK_LIMIT_S:-900}
run_soak() {
  local counts="$made/descriptors.txt" limiter program="" status=0
  : > "$counts"
  timeout -k 5 "$soak_limit_s" "$WINE" "$bin/soak.exe" "$1" "$2" "$3" "${files[@]}" &
  limiter=$!
  while [ -z "$program" ] && kill -0 "$limiter" 2>/dev/null; do
    program=$(pgrep -P "$limiter" || true)
    sleep 0.1
  done
  [ -z "$program" ] || sample_descriptors "$program" "$counts" &
  wait "$limiter" || status=1
  wait $! 2>/dev/null || true
  # The last count may come from the program's exit: the one before it is its end.
  awk 'NR == 1 { first = $1 } { end = last; last = $1; if ($1 > peak) peak = $1 }
       END { if (NR > 1) printf "host file descriptors of soak.exe: start %d, end %d, peak %d\n", first, end, peak }' "$counts"
  return $status
}

status=0
echo "== soak: $null_cycles cycles on the null device"
run_soak 0 "$null_cycles" 1000 || status=1
echo
echo "== soak: $device_cycles cycles on the real device (the null sink), which goes away" \
     "for ${sink_away_s} s every ${sink_present_s} s"
flap_the_sink &
flapper=$!
run_soak 1 "$device_cycles" 100 || status=1
kill -TERM "$flapper"
wait "$flapper" 2>/dev/null || true
exit $status
