#!/usr/bin/env bash
# Makes the small sample files that `make run` plays and that a user can open:
# the same four-note chime (C5 E5 G5 C6 over a soft A3 drone, 6 s) as WAV (mono),
# MP3 and Ogg Vorbis. Run it again to regenerate them; the outputs are committed.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

notes=(523.25 659.25 783.99 1046.50)
parts=()
for i in "${!notes[@]}"; do
  sox -n -r 44100 -c 1 -b 16 "$tmp/n$i.wav" synth 1.5 sine "${notes[$i]}" fade q 0.01 1.5 0.5 vol 0.45
  parts+=("$tmp/n$i.wav")
done
sox "${parts[@]}" "$tmp/melody.wav"
sox -n -r 44100 -c 1 -b 16 "$tmp/drone.wav" synth 6 sine 220 fade q 0.3 6 0.8 vol 0.15
sox -m "$tmp/melody.wav" "$tmp/drone.wav" -c 2 "$tmp/chime.wav"

sox "$tmp/chime.wav" -r 22050 -b 16 -c 1 chime.wav
lame --quiet -b 96 "$tmp/chime.wav" chime.mp3
oggenc --quiet -q 3 -o chime.ogg "$tmp/chime.wav"
ls -l chime.*
