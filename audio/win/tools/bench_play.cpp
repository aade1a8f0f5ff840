// A tiny player for the benchmarks (scripts/bench-audio.sh): how long a
// stream takes to create, and what playing it costs this process in CPU time
// and memory.
//
//   bench_play FILE SECONDS [DEVICE [STREAMS]]
//
// Prints "create_ms", and when SECONDS > 0 plays the file for that long on
// DEVICE (default 1), as STREAMS streams at once (default 1), and prints
// "cpu_percent" (CPU time over wall time while playing, 100 = one core),
// "peak_working_set_kb", "peak_private_kb" and "underruns" (times a
// stream's decoded sound ran out).
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "bass.h"
#include "bench_figures.h"
#include "diagnostics.h"
#include "test_signals.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_play FILE SECONDS [DEVICE [STREAMS]]\n");
        return 2;
    }
    const char* path = argv[1];
    double seconds = std::atof(argv[2]);
    int device = argc > 3 ? std::atoi(argv[3]) : 1;
    int streams = argc > 4 ? std::atoi(argv[4]) : 1;

    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "bench_play: BASS_Init failed with error %d\n", BASS_ErrorGetCode());
        return 1;
    }
    double start = audio_test::now_seconds();
    HSTREAM stream = BASS_StreamCreateFile(FALSE, path, 0, 0, 0);
    double create_ms = (audio_test::now_seconds() - start) * 1000;
    if (stream == 0) {
        std::fprintf(stderr, "bench_play: cannot create a stream of %s: error %d\n", path, BASS_ErrorGetCode());
        BASS_Free();
        return 1;
    }
    std::printf("create_ms %.2f\n", create_ms);

    if (seconds > 0) {
        double cpu_before = audio_test::process_cpu_seconds();
        double wall_before = audio_test::now_seconds();
        BASS_ChannelPlay(stream, FALSE);
        for (int i = 1; i < streams; ++i) BASS_ChannelPlay(BASS_StreamCreateFile(FALSE, path, 0, 0, 0), FALSE);
        Sleep(static_cast<DWORD>(seconds * 1000));
        double cpu = audio_test::process_cpu_seconds() - cpu_before;
        double wall = audio_test::now_seconds() - wall_before;
        audio_test::print_cpu_and_peak_memory(cpu, wall);
        std::printf("underruns %llu\n", static_cast<unsigned long long>(audio::library_underrun_count()));
    }
    BASS_Free();
    return 0;
}
