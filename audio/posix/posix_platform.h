// The POSIX platform layer's operations: files through stdio, no system
// codecs, no output devices besides the core's null device. posix_platform()
// gathers them into the core's table.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform.h"

namespace audio {

std::unique_ptr<ByteSource> open_file_source(const char* path, Error* error);
std::unique_ptr<BlockConverter> open_block_converter(const std::vector<uint8_t>& wave_format,
                                                     Error* error);
std::unique_ptr<OutputDevice> open_output_device(int device, uint32_t rate, Error* error);

const Platform& posix_platform();

}  // namespace audio
