// What a leak shows in: this process's open handles, its private bytes, and
// the streams the audio library holds. Read by the soak program.
#pragma once

#include <windows.h>

#include <cstddef>

namespace audio_test {

struct ProcessFigures {
    DWORD handles = 0;         // open handles of this process
    SIZE_T private_bytes = 0;  // committed memory of its own
    size_t streams = 0;        // streams the library holds
};

// Reads the figures. GetProcessHandleCount and GetProcessMemoryInfo's
// PrivateUsage come first; where they report 0, as Wine's do, the handles are
// counted in the system's handle table and the private bytes summed over
// the address space.
ProcessFigures measure_process();

// Where measure_process took each figure from, as a line for the reader.
const char* figure_sources();

// Why `now` is not flat next to `base`, or null when it is: more than
// max_bytes or max_handles above it, or any stream left over.
const char* not_flat_because(const ProcessFigures& base, const ProcessFigures& now,
                             SIZE_T max_bytes, DWORD max_handles);

}  // namespace audio_test
