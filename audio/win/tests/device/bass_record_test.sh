#!/usr/bin/env bash
# The library end to end: makes a three-second 440 Hz sine file (peak 0.8)
# in FORMAT, then has bass_play_check play, pause, resume and stop it at
# volume 50 while record_test.sh records and checks the null sink.
#
#   bass_record_test.sh wav|mp3|ogg BASS_PLAY_CHECK.exe
#
# Needs sox, lame and oggenc (scripts/install-deps.sh) and the test environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
format=$1
program=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/sine.wav" synth 3 sine 440 vol 0.8
# Lossy formats leave coding noise in the sine and lower its level a little.
checks=(--max-start-ms 80)
case "$format" in
  wav) file="$work/sine.wav" ;;
  mp3) file="$work/sine.mp3"; lame --quiet -b 192 "$work/sine.wav" "$file"
       checks+=(--level-tolerance 0.08 --max-break 0.05) ;;
  ogg) file="$work/sine.ogg"; oggenc --quiet -q 6 -o "$file" "$work/sine.wav"
       checks+=(--level-tolerance 0.08 --max-break 0.05) ;;
  *) echo "usage: $0 wav|mp3|ogg PROGRAM" >&2; exit 2 ;;
esac

# Wine sees the host's root as drive Z:.
bash "$here/record_test.sh" "${checks[@]}" -- "$program" "Z:$file" 440 0.8 50
