#!/usr/bin/env bash
# Playback from storage that stalls, through the real device: one read of a
# ten-second rising tone, the one 4 s in, hangs for STALL_MS while the null
# sink is recorded; stall_analyse.py (audio/win/tools) checks the recording.
#
#   stall_test.sh STALL_MS [other] BASS_STALL_CHECK.exe
#   other: a steady tone plays from memory beside it, on the other channel.
#
# Needs sox (scripts/install-deps.sh) and the test environment.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
stall_ms=$1
other=
[ "$2" = other ] && { other=1; shift; }
program=$2

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The rising tone on the left only, the steady one on the right only.
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/rising.wav" synth 10 sine 300:1300 vol 0.5 remix 1 0
sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/steady.wav" synth 10 sine 1000 vol 0.3 remix 0 1
args=(Z:"$work/rising.wav" 4 "$stall_ms" 7)
checks=(--stall-at 4 --stall-ms "$stall_ms")
[ -z "$other" ] || { args+=(Z:"$work/steady.wav"); checks+=(--other); }
RECORD_ANALYSER="$here/../../tools/stall_analyse.py" bash "$here/record_test.sh" "${checks[@]}" -- "$program" "${args[@]}"
