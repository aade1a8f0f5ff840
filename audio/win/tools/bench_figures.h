// What the benchmarks' players print, in the same words, so that
// scripts/bench-audio.sh reads both alike.
#pragma once

#include <windows.h>
#include <psapi.h>

#include <cstdio>

namespace audio_test {

// Seconds on the performance counter.
inline double now_seconds() {
    LARGE_INTEGER counter, frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// "cpu_percent" (CPU seconds over wall seconds, 100 = one core), then the
// process's "peak_working_set_kb" and "peak_private_kb".
inline void print_cpu_and_peak_memory(double cpu_seconds, double wall_seconds) {
    std::printf("cpu_percent %.2f\n", 100.0 * cpu_seconds / wall_seconds);
    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof(memory);
    if (GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof(memory))) {
        std::printf("peak_working_set_kb %llu\n", static_cast<unsigned long long>(memory.PeakWorkingSetSize / 1024));
        std::printf("peak_private_kb %llu\n", static_cast<unsigned long long>(memory.PeakPagefileUsage / 1024));
    }
}

}  // namespace audio_test
