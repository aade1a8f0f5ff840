// Lines on stdout that the capture analyser (analyse_capture.py) reads: what
// tone to expect, and when each change of the sound was asked for, in Unix
// time from the same clock the capture is timed with.
#pragma once

#include <windows.h>

#include <cstdio>

namespace audio_test {

// Seconds since 1970 from the system clock, to the microsecond.
inline double unix_time_now() {
    FILETIME now;
    GetSystemTimePreciseAsFileTime(&now);
    ULONGLONG ticks = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return static_cast<double>(ticks) / 1e7 - 11644473600.0;
}

// "tone FREQUENCY": the sine the capture should contain.
inline void log_tone(double frequency) {
    std::printf("tone %.3f\n", frequency);
    std::fflush(stdout);
}

// "event NAME TIME PEAK": from TIME on the capture should hold the tone at
// peak amplitude PEAK (0 = silence).
inline void log_event(const char* name, double peak) {
    std::printf("event %s %.6f %.4f\n", name, unix_time_now(), peak);
    std::fflush(stdout);
}

// "figure NAME VALUE UNIT": a measurement the analyser prints along.
inline void log_figure(const char* name, double value, const char* unit) {
    std::printf("figure %s %.2f %s\n", name, value, unit);
    std::fflush(stdout);
}

}  // namespace audio_test
