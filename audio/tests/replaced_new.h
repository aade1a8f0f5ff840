// Programs that watch memory replace operator new and delete with the ones
// in replaced_new.cpp, which ask these hooks; each such program defines them.
#pragma once

#include <cstddef>

namespace audio_test {

// Asked before each allocation of `size` bytes: true makes it fail with
// std::bad_alloc.
bool allocation_fails(std::size_t size);
// Told of each block released (never of a null pointer).
void note_release();

}  // namespace audio_test
