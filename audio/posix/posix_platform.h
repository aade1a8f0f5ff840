// The POSIX platform layer: files read by descriptor, no system codecs, no output
// devices besides the core's null device. posix_platform() gathers its
// operations into the core's table.
#pragma once

#include <memory>

#include "platform.h"

namespace audio {

// A ByteSource over a regular file (file_source.cpp).
std::unique_ptr<ByteSource> open_posix_file_source(const char* path, Error* error);

const Platform& posix_platform();

}  // namespace audio
