// Figures about the library's own state that no public call reports, for
// programs that watch it for leaks (the soak program).
#pragma once

#include <cstddef>

namespace audio {

// The streams the running library holds, with a handle or still fading out
// after their release; 0 before BASS_Init.
size_t library_stream_count();

}  // namespace audio
