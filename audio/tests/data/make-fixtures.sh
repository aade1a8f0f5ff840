#!/usr/bin/env bash
# Makes the small MP3 and Ogg Vorbis test files of this folder from sine
# tones (sox), encoded with lame and oggenc. Run it from anywhere; the files
# it writes are committed beside it.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# tone NAME RATE CHANNELS SECONDS: a 1 kHz sine at half scale.
tone() { sox -n -r "$2" -c "$3" -b 16 "$tmp/$1.wav" synth "$4" sine 1000 vol 0.5; }

tone s44 44100 2 0.5
tone s22 22050 1 0.5
tone s8 8000 1 0.5
tone s48 48000 2 0.5

# MPEG-1 CBR with ID3v2 and ID3v1 tags (lame also writes an Info frame first).
lame --quiet -b 96 --resample 44.1 --add-id3v2 --tt "Sine 1k" --ta "Tests" "$tmp/s44.wav" sine_1k_44100_stereo.mp3
# MPEG-2 VBR (a Xing frame first), no tags.
lame --quiet -V 6 --noreplaygain "$tmp/s22.wav" sine_1k_22050_mono_vbr.mp3
# MPEG-2.5 CBR without the Info frame.
lame --quiet -b 16 -t "$tmp/s8.wav" sine_1k_8000_mono.mp3

oggenc -Q -q 0 "$tmp/s44.wav" -o sine_1k_44100_stereo.ogg
oggenc -Q -q 0 "$tmp/s22.wav" -o sine_1k_22050_mono.ogg
# Three channels at 48 kHz (Vorbis order L C R): the tone on left and right,
# the centre silent.
sox -n -r 48000 -c 1 -b 16 "$tmp/silence.wav" trim 0 0.5
sox -M "$tmp/s48.wav" "$tmp/silence.wav" "$tmp/s3.wav"
oggenc -Q -q 0 "$tmp/s3.wav" -o sine_1k_48000_3ch.ogg 2>/dev/null
# Four seconds of the tone over faint noise, so that the audio fills several
# pages (about 0.6 s each): the damaged-page tests break one of them.
sox -n -r 44100 -c 2 -b 16 "$tmp/t4.wav" synth 4 sine 1000 vol 0.5
sox -n -r 44100 -c 2 -b 16 "$tmp/n4.wav" synth 4 whitenoise vol 0.02
sox -m -v 1 "$tmp/t4.wav" -v 1 "$tmp/n4.wav" "$tmp/tn4.wav"
oggenc -Q -q 0 "$tmp/tn4.wav" -o tone_noise_4s_44100_stereo.ogg
# 5.1 in WAV order (FL FR FC LFE BL BR; oggenc stores it in Vorbis order),
# each channel a tone of its own frequency and level.
sox -n -r 44100 -c 6 -b 16 "$tmp/s6.wav" synth 0.5 sine 500 sine 700 sine 900 sine 110 sine 1100 sine 1300 \
  remix 1v0.5 2v0.4 3v0.3 4v0.2 5v0.25 6v0.15
oggenc -Q -q 2 "$tmp/s6.wav" -o tones_5_1_44100.ogg 2>/dev/null
ls -l ./*.mp3 ./*.ogg
