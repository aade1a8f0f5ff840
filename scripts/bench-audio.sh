#!/usr/bin/env bash
# Benchmarks of the audio library on its Windows build, printed as figures:
#  - stream creation time for a one-second and a one-hour file (WAV, MP3, Ogg):
#    creation must not grow with the file's length;
#  - CPU and peak memory while our library plays a 44.1 kHz stereo MP3 to the
#    null sink, next to mpg123 playing the same file to the same sink;
#  - CPU while our library plays the 16-bit WAV of that sound, next to a bare
#    waveOut player (bare_waveout) streaming the same WAV under the same Wine:
#    the cost of the library itself, with Wine's audio path on both sides;
#  - the same with eight streams of that file at once (each decoded ahead).
#
#   scripts/bench-audio.sh [SECONDS]     (default 10 s of playback)
#
# Runs itself inside the test environment (scripts/env/test-env.sh) when not
# already there. Needs the build of the preset the environment names
# (TEST_PRESET). The files are made in a temporary folder and removed after.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-10}

. "$root/scripts/lib/host.sh"
in_test_env "$root/scripts/bench-audio.sh" "$@"
preset=$TEST_PRESET
cmake --build --preset "$preset" --target bench_play bare_waveout >/dev/null
bin="$root/$(preset_bin "$preset")"
player="$bin/bench_play.exe"
bare="$bin/bare_waveout.exe"

work=$(mktemp -d /tmp/bench-audio.XXXXXX)
trap 'rm -rf "$work"' EXIT

# measure.py CMD...: runs CMD, then prints the wall time, its CPU time (user +
# system of it and its children) and its peak resident memory, plus the CPU
# time the Wine server of this prefix spent meanwhile (Wine programs hand
# part of their work to it).
cat > "$work/measure.py" <<'PY'
import os, resource, subprocess, sys, time

def wineserver_cpu():
    prefix = os.environ.get("WINEPREFIX", "")
    total = 0.0
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/comm") as f:
                if not f.read().startswith("wineserver"):
                    continue
            with open(f"/proc/{pid}/environ", "rb") as f:
                if f"WINEPREFIX={prefix}".encode() not in f.read().split(b"\0"):
                    continue
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
        except OSError:
            pass
    return total

server_before = wineserver_cpu()
before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
result = subprocess.run(sys.argv[1:], stdout=subprocess.PIPE, text=True)
wall = time.monotonic() - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
sys.stdout.write(result.stdout)
print(f"wall_s {wall:.3f}")
print(f"cpu_s {after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime:.3f}")
print(f"max_rss_kb {after.ru_maxrss}")
print(f"wineserver_cpu_s {wineserver_cpu() - server_before:.3f}")
sys.exit(result.returncode)
PY

# value NAME < output: the number after NAME (Windows programs end lines with CR LF).
value() { tr -d '\r' | awk -v name="$1" '$1 == name { print $2; exit }'; }

echo "== making the test files (pink noise, 44.1 kHz stereo)"
for length in 1 3600; do
  sox -n -r 44100 -c 2 -b 16 -e signed-integer "$work/noise_$length.wav" synth "$length" pinknoise vol 0.3
  lame --quiet --cbr -b 128 "$work/noise_$length.wav" "$work/noise_$length.mp3"
  oggenc --quiet -q 4 -o "$work/noise_$length.ogg" "$work/noise_$length.wav"
done
ls -l "$work"/noise_* | awk '{ printf "   %-14s %12d bytes\n", substr($NF, index($NF, "noise_")), $5 }'

echo
echo "== stream creation time (best of 3, device 0), one second vs one hour"
printf "   %-5s %12s %12s %8s\n" format "1 s file" "1 h file" ratio
for format in wav mp3 ogg; do
  best=()
  for length in 1 3600; do
    min=
    for _ in 1 2 3; do
      ms=$("$WINE" "$player" "Z:$work/noise_$length.$format" 0 0 | value create_ms)
      if [ -z "$min" ] || awk -v a="$ms" -v b="$min" 'BEGIN { exit !(a < b) }'; then min=$ms; fi
    done
    best+=("$min")
  done
  printf "   %-5s %9.2f ms %9.2f ms %7.2fx\n" "$format" "${best[0]}" "${best[1]}" \
    "$(awk -v a="${best[1]}" -v b="${best[0]}" 'BEGIN { print a / b }')"
done

echo
echo "== playing the one-hour MP3 for $seconds s to the null sink"
ours=$(python3 "$work/measure.py" "$WINE" "$player" "Z:$work/noise_3600.mp3" "$seconds" 1)
frames=$(awk -v s="$seconds" 'BEGIN { printf "%d", s * 44100 / 1152 }')
eight=$(python3 "$work/measure.py" "$WINE" "$player" "Z:$work/noise_3600.mp3" "$seconds" 1 8)
theirs=$(python3 "$work/measure.py" mpg123 -q -o pulse -n "$frames" "$work/noise_3600.mp3")
our_wav=$("$WINE" "$player" "Z:$work/noise_3600.wav" "$seconds" 1)
bare_wav=$("$WINE" "$bare" "Z:$work/noise_3600.wav" "$seconds")

our_cpu=$(value cpu_percent <<<"$ours")
our_process_cpu=$(awk -v c="$(value cpu_s <<<"$ours")" -v w="$(value wall_s <<<"$ours")" 'BEGIN { printf "%.2f", 100 * c / w }')
our_server_cpu=$(awk -v c="$(value wineserver_cpu_s <<<"$ours")" -v w="$(value wall_s <<<"$ours")" 'BEGIN { printf "%.2f", 100 * c / w }')
their_cpu=$(awk -v c="$(value cpu_s <<<"$theirs")" -v w="$(value wall_s <<<"$theirs")" 'BEGIN { printf "%.2f", 100 * c / w }')
our_peak=$(value peak_working_set_kb <<<"$ours")
our_private=$(value peak_private_kb <<<"$ours")
our_rss=$(value max_rss_kb <<<"$ours")
their_rss=$(value max_rss_kb <<<"$theirs")

echo "   measured: the $preset build ($(basename "$WINE") under Wine$([ "$preset" = mingw64 ] && echo ': this kernel cannot run 32-bit programs, so the 64-bit build stands in for the shipped 32-bit one'))"
echo "   CPU (percent of one core):"
printf "     our library, while playing (GetProcessTimes)      %6.2f %%\n" "$our_cpu"
printf "     the Wine process, whole run incl. start-up        %6.2f %%\n" "$our_process_cpu"
printf "     the Wine server, same run                         %6.2f %%\n" "$our_server_cpu"
printf "     mpg123 -o pulse, whole run                         %6.2f %%\n" "$their_cpu"
printf "     ratio ours while playing / mpg123                 %6.2fx\n" "$(awk -v a="$our_cpu" -v b="$their_cpu" 'BEGIN { print a / b }')"
printf "     ratio Wine process + server / mpg123              %6.2fx\n" \
  "$(awk -v a="$our_process_cpu" -v s="$our_server_cpu" -v b="$their_cpu" 'BEGIN { print (a + s) / b }')"
echo "   CPU playing the WAV (no decoding), beside a bare waveOut player:"
printf "     our library, while playing (GetProcessTimes)      %6.2f %%\n" "$(value cpu_percent <<<"$our_wav")"
printf "     bare_waveout, while playing (GetProcessTimes)     %6.2f %%\n" "$(value cpu_percent <<<"$bare_wav")"
printf "     ratio ours / bare waveOut                         %6.2fx\n" \
  "$(awk -v a="$(value cpu_percent <<<"$our_wav")" -v b="$(value cpu_percent <<<"$bare_wav")" 'BEGIN { print a / b }')"
printf "     ratio ours playing the MP3 / bare waveOut (WAV)   %6.2fx\n" \
  "$(awk -v a="$our_cpu" -v b="$(value cpu_percent <<<"$bare_wav")" 'BEGIN { print a / b }')"
echo "   peak memory:"
printf "     our library: working set %d KB, private %d KB (GetProcessMemoryInfo)\n" "$our_peak" "$our_private"
printf "     the Wine process, peak resident                   %8d KB\n" "$our_rss"
printf "     mpg123, peak resident                             %8d KB\n" "$their_rss"
printf "     bare_waveout: working set %d KB, private %d KB (GetProcessMemoryInfo)\n" \
  "$(value peak_working_set_kb <<<"$bare_wav")" "$(value peak_private_kb <<<"$bare_wav")"
printf "     ratio Wine process / mpg123 resident              %6.2fx\n" "$(awk -v a="$our_rss" -v b="$their_rss" 'BEGIN { print a / b }')"
echo "   eight streams at once:"
printf "     our library, while playing (GetProcessTimes)      %6.2f %%\n" "$(value cpu_percent <<<"$eight")"
printf "     our library: working set %d KB, private %d KB (GetProcessMemoryInfo)\n" \
  "$(value peak_working_set_kb <<<"$eight")" "$(value peak_private_kb <<<"$eight")"
printf "     underruns of one stream or eight                 %s / %s\n" "$(value underruns <<<"$ours")" "$(value underruns <<<"$eight")"
