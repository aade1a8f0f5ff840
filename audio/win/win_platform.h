// The Windows platform layer's operations: files through the Win32 file API,
// compressed formats through the system's ACM codecs, sound through WASAPI or
// waveOut. win_platform() gathers them into the core's table.
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

const Platform& win_platform();

}  // namespace audio
