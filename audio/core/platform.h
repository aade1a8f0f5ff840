// What the portable core needs from the operating system. Each platform layer
// (win/, posix/) defines these functions; the core links against exactly one.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "io/byte_source.h"
#include "decode/decoder.h"
#include "mix/output_device.h"

namespace audio {

// Opens a file by its narrow (ANSI code page) path for reading, sharing read
// and delete. Null with a BASS_ERROR_* code in *error on failure.
std::unique_ptr<ByteSource> open_file_source(const char* path, int* error);

// Creates a converter for a compressed WAVE format. wave_format holds the
// bytes of a WAVEFORMATEX (the WAV fmt chunk, or one the MP3 parser built).
// Null with BASS_ERROR_FILEFORM when no codec of the system handles it.
std::unique_ptr<BlockConverter> open_block_converter(const std::vector<uint8_t>& wave_format,
                                                     int* error);

// Opens output device `device` (1 = first real device, -1 = default; 0 never
// reaches here: the core serves it with its null device) at `rate` Hz stereo.
// Null with BASS_ERROR_DEVICE, _DRIVER or _START on failure.
std::unique_ptr<OutputDevice> open_output_device(int device, uint32_t rate, int* error);

}  // namespace audio
