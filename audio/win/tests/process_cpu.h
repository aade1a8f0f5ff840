// The CPU time a test program has used, to show that a waiting library
// does not spin.
#pragma once

#include <windows.h>

namespace audio_test {

// Kernel and user time of this whole process so far, in seconds.
inline double process_cpu_seconds() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
}

}  // namespace audio_test
