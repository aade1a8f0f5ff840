// Storage that stalls on demand, for the tests of playback from a file
// whose reads hang (stall_file_read in diagnostics.h arms it).
#pragma once

#include <memory>

#include "io/byte_source.h"

namespace audio {

// The file's source, wrapped to stall once if a stall is armed; the stall
// then belongs to this file (and its rewound readers) alone.
std::unique_ptr<ByteSource> with_armed_read_stall(std::unique_ptr<ByteSource> file);

}  // namespace audio
