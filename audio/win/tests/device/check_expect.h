// The expectations of the programs that check the library on the real device:
// a failed one is told on stderr with the library's last error, and fails the
// program's exit code, while the program plays on so the recording stays whole.
#pragma once

#include <cstdio>

#include "bass.h"

namespace audio_test {

inline int& failed_expectations() {
    static int count = 0;
    return count;
}

inline void expect(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "check failed: %s (error %d)\n", what, BASS_ErrorGetCode());
        ++failed_expectations();
    }
}

inline int check_exit_code() { return failed_expectations() == 0 ? 0 : 1; }

}  // namespace audio_test
