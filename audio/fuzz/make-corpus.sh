#!/usr/bin/env bash
# Makes the small seed corpus of the fuzzers: a few very short WAV files of
# different sample formats, and copies of the MP3 and Ogg test files.
set -euo pipefail
cd "$(dirname "$0")"
data=../tests/data
mkdir -p corpus/fuzz_stream corpus/fuzz_mp3 corpus/fuzz_render corpus/fuzz_ogg_pages

# wav NAME SOX-OPTIONS...: 10 ms of a tone.
wav() {
  local name=$1; shift
  sox -n "$@" "corpus/fuzz_stream/$name.wav" synth 0.01 sine 1000 vol 0.5
  cp "corpus/fuzz_stream/$name.wav" "corpus/fuzz_render/$name.wav"
}
wav pcm8_mono -r 8000 -c 1 -b 8 -e unsigned-integer
wav pcm16_stereo -r 22050 -c 2 -b 16
wav pcm24_stereo -r 48000 -c 2 -b 24
wav pcm32_mono -r 11025 -c 1 -b 32
wav float32_stereo -r 32000 -c 2 -b 32 -e floating-point
wav float64_mono -r 16000 -c 1 -b 64 -e floating-point
wav pcm16_6ch -r 44100 -c 6 -b 16
wav ulaw_mono -r 8000 -c 1 -e u-law
cp "$data"/sine_1k_22050_mono.ogg "$data"/sine_1k_48000_3ch.ogg "$data"/tones_5_1_44100.ogg corpus/fuzz_stream/
cp "$data"/sine_1k_22050_mono.ogg corpus/fuzz_render/
cp "$data"/*.mp3 corpus/fuzz_mp3/
# The file that fuzz_ogg_pages damages: one second of a tone over noise at a
# high quality, so that it spans eight pages yet decodes quickly.
tmp=$(mktemp -d)
sox -n -r 44100 -c 2 -b 16 "$tmp/t.wav" synth 1 sine 1000 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$tmp/n.wav" synth 1 whitenoise vol 0.1
sox -m -v 1 "$tmp/t.wav" -v 1 "$tmp/n.wav" "$tmp/tn.wav"
mkdir -p data
oggenc -Q -q 8 "$tmp/tn.wav" -o data/tone_noise_1s_44100_stereo.ogg
rm -rf "$tmp"
# Edits of fuzz_ogg_pages (operation, position high, low, argument): none, a
# flipped byte mid-file, a cut run, a duplicated run, inserted noise.
printf '' >corpus/fuzz_ogg_pages/none
printf '\x00\x80\x00\x5a' >corpus/fuzz_ogg_pages/flip
printf '\x01\x60\x00\x40' >corpus/fuzz_ogg_pages/cut
printf '\x02\xa0\x00\x80' >corpus/fuzz_ogg_pages/duplicate
printf '\x03\x40\x00\xff\x00\xc0\x10\x01' >corpus/fuzz_ogg_pages/noise_and_flip
ls corpus/*
