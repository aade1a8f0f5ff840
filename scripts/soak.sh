#!/usr/bin/env bash
# The soak run (make soak): the Windows build's soak program cycles streams
# of WAV (PCM and compressed), MP3 and Ogg files through create, play,
# pause/resume and stop/free, 10,000 times on the null device (0), then 1,000
# times on the real one (1, the test environment's null sink), and fails when
# the open handles, private bytes or held streams do not stay flat.
#
#   scripts/soak.sh [NULL_CYCLES [DEVICE_CYCLES]]     (default 10000 1000)
#
# Figures come every 1,000 cycles on the null device; every 100 on the real
# one, whose run is shorter. Runs itself inside the test environment
# (scripts/env/test-env.sh) when not already there, and builds only the soak
# program of the preset the environment names.
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
  files+=("Z:$root/$file")
done

status=0
echo "== soak: $null_cycles cycles on the null device"
"$WINE" "$bin/soak.exe" 0 "$null_cycles" 1000 "${files[@]}" || status=1
echo
echo "== soak: $device_cycles cycles on the real device (the null sink)"
"$WINE" "$bin/soak.exe" 1 "$device_cycles" 100 "${files[@]}" || status=1
exit $status
