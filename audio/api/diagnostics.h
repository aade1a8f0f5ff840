// Figures about the library's own state that no public call reports, for
// programs that watch it for leaks and gaps (the soak program, the device
// tests), and a stalled read on demand for those tests.
#pragma once

#include <cstddef>
#include <cstdint>

namespace audio {

// The streams the running library holds, with a handle or still fading out
// after their release; 0 before BASS_Init.
size_t library_stream_count();

// Times a playing stream's decoded sound ran out before more arrived (its
// storage or codec was slower than playback); 0 before BASS_Init.
uint64_t library_underrun_count();

// For tests of storage that hangs: the next file a stream opens stalls for
// `milliseconds` in the first read that reaches byte `at_byte`.
void stall_file_read(uint64_t at_byte, unsigned milliseconds);

}  // namespace audio
