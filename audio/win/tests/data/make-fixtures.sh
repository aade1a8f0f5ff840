#!/usr/bin/env bash
# Makes the compressed test files of the ACM converter tests: half a second
# of a sine at half of full scale, in each format the system codecs decode.
# Run it from anywhere; it writes next to itself. Needs sox and lame.
set -euo pipefail
cd "$(dirname "$0")"

# sine RATE CHANNELS FREQ OUT: 16-bit PCM source with the tone on every channel.
sine() { sox -n -r "$1" -c "$2" -b 16 -e signed-integer "$4" synth 0.5 sine "$3" vol 0.5; }

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

sine 22050 2 440 "$tmp/s22.wav"
sine 44100 1 1000 "$tmp/m44.wav"
sine 8000 1 440 "$tmp/m8.wav"
sine 44100 2 440 "$tmp/s44.wav"
sine 22050 1 1000 "$tmp/m22.wav"

sox "$tmp/s22.wav" -e ima-adpcm ima_adpcm_22050_stereo_440.wav
sox "$tmp/m44.wav" -e ms-adpcm ms_adpcm_44100_mono_1000.wav
sox "$tmp/m8.wav" -e u-law mulaw_8000_mono_440.wav
sox "$tmp/m8.wav" -e a-law alaw_8000_mono_440.wav
# -t: no Info frame, so every frame is sound. 22050 Hz makes MPEG-2 frames.
lame --quiet -t -b 128 "$tmp/s44.wav" mp3_44100_stereo_440.mp3
lame --quiet -t -b 64 "$tmp/m22.wav" mp3_22050_mono_1000.mp3
