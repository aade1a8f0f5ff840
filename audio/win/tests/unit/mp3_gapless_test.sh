#!/usr/bin/env bash
# MP3 to the sample against mpg123: encodes a chirp that starts at a known
# sample (0.1 s of silence, then 0.9 s of sound) with lame at 44.1, 32,
# 22.05 and 8 kHz, mono and stereo, CBR and VBR, with and without its tag,
# in free format, joined files that switch between mono and stereo, and a
# file shorter than one frame; decodes each with
# mpg123 (gapless) and has mp3_gapless_check compare the library's decoding
# with it. Then the
# same check over a file with garbage in some frames, and over files cut
# without re-encoding.
#
#   mp3_gapless_test.sh MP3_GAPLESS_CHECK.exe
#
# Needs sox, lame and mpg123 (scripts/install-deps.sh) and the test
# environment (WINE).
set -euo pipefail
program=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# Bitrates lame keeps each rate at (it resamples below its limits).
cbr_kbps() { case $1 in 44100|32000) echo 128 ;; 22050) echo 64 ;; *) echo 32 ;; esac; }

list="$work/cases.txt"
: > "$list"
# encode NAME SOURCE.wav TAGGED LAME-OPTIONS...
encode() {
  local name=$1 src=$2 tagged=$3
  shift 3
  lame --quiet "$@" "$src" "$work/$name.mp3"
  mpg123 -q -w "$work/$name.ref.wav" "$work/$name.mp3"
  echo "Z:$work/$name.mp3 $work/$name.ref.wav $work/$(basename "$src") $tagged" >> "$list"
}

for rate in 44100 32000 22050 8000; do
  for channels in 1 2; do
    src="$work/src_${rate}_$channels.wav"
    sox -n -r "$rate" -c "$channels" -b 16 "$src" synth 0.9 sine 200-$((rate * 3 / 8)) vol 0.5 pad 0.1 0
    b=$(cbr_kbps "$rate")
    encode "cbr_${rate}_$channels" "$src" tagged -b "$b"
    encode "cbr_${rate}_${channels}_untagged" "$src" untagged -b "$b" -t
    encode "vbr_${rate}_$channels" "$src" tagged -V 4
    encode "vbr_${rate}_${channels}_untagged" "$src" untagged -V 4 -t
  done
done
# Free format: frames of a length the encoder chose, above 320 kbit/s too.
encode free_400 "$work/src_44100_2.wav" tagged --freeformat -b 400
encode free_160_untagged "$work/src_44100_1.wav" untagged --freeformat -b 160 -t
encode free_64 "$work/src_22050_2.wav" tagged --freeformat -b 64
# Streams that switch between mono and stereo: files joined end to end. The
# first frame decides the output's channels, as mpg123 is told here.
lame --quiet -t -b 128 "$work/src_44100_1.wav" "$work/part_1.mp3"
lame --quiet -t -b 128 "$work/src_44100_2.wav" "$work/part_2.mp3"
# joined NAME MPG123-CHANNELS-OPTION PARTS...
joined() {
  local name=$1 channels=$2
  shift 2
  (cd "$work" && cat "$@" > "$name.mp3")
  mpg123 -q "$channels" -w "$work/$name.ref.wav" "$work/$name.mp3"
  echo "Z:$work/$name.mp3 $work/$name.ref.wav $work/src_44100_2.wav untagged" >> "$list"
}
joined switch_mono_first --mono part_1.mp3 part_2.mp3 part_1.mp3
joined switch_stereo_first --stereo part_2.mp3 part_1.mp3 part_2.mp3
# 100 samples: less than one frame of sound.
short="$work/short.wav"
sox -n -r 44100 -c 2 -b 16 "$short" synth 100s sine 1000 vol 0.5
encode short_tagged "$short" tagged -b 128
encode short_untagged "$short" untagged -b 128 -t

# The reference decoder's paths are read by this script's tools, the MP3s by
# the Windows program (drive Z: is the host's root).
sed -i 's| /| Z:/|g' "$list"
"${WINE:-wine}" "$program" "Z:$list"

# A tagless file: garbage in the bodies of frames whose headers stay intact;
# then the reserved emphasis in some headers.
lame --quiet -b 128 -t "$work/src_44100_2.wav" "$work/damaged.mp3"
mpg123 -q -w "$work/damaged.ref.wav" "$work/damaged.mp3"
"${WINE:-wine}" "$program" --damage "Z:$work/damaged.mp3" "Z:$work/damaged.ref.wav"
"${WINE:-wine}" "$program" --emphasis "Z:$work/damaged.mp3" "Z:$work/damaged.ref.wav"

# Cut files: pink noise keeps the encoder's reservoir full. Low and high
# CBR, VBR, mono, and MPEG-2 rates, each cut without re-encoding.
sox -R -n -r 44100 -c 2 -b 16 "$work/pink.wav" synth 6 pinknoise vol 0.5
cut_case() {
  local name=$1
  shift
  lame --quiet -t "$@" "$work/pink.wav" "$work/$name.mp3"
  mpg123 -q -w "$work/$name.ref.wav" "$work/$name.mp3"
  "${WINE:-wine}" "$program" --cut "Z:$work/$name.mp3" "Z:$work/$name.ref.wav" || cuts_failed=1
}
cuts_failed=0
cut_case cut_cbr64 -b 64 --resample 44.1
cut_case cut_cbr320 -b 320
cut_case cut_mono32 -b 32 -m m --resample 44.1
cut_case cut_vbr2 -V 2
cut_case cut_vbr9 -V 9
cut_case cut_mpeg2 -b 32 --resample 22.05
[ "$cuts_failed" = 0 ]
