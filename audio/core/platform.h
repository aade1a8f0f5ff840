// What the portable core needs from the operating system, as a table of
// operations. Each platform layer (win/, posix/) provides one; the public
// calls pick theirs, open files and devices through it, and hand its
// converters to the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decode/decoder.h"
#include "error.h"
#include "io/byte_source.h"
#include "mix/output_device.h"

namespace audio {

struct Platform {
    // Opens a file by its narrow (ANSI code page) path for reading, sharing
    // read and delete. Null with Error::file_open (or no_memory) on failure.
    std::unique_ptr<ByteSource> (*open_file_source)(const char* path, Error* error);

    // Creates a converter for a compressed WAVE format. wave_format holds the
    // bytes of a WAVEFORMATEX (the WAV fmt chunk, or one the MP3 parser
    // built). Null with Error::bad_file_format when no codec handles it.
    std::unique_ptr<BlockConverter> (*open_block_converter)(const std::vector<uint8_t>& wave_format,
                                                            Error* error);

    // Opens output device `device` (1 = first real device, -1 = default; 0
    // never reaches here: the core serves it with its null device) at `rate`
    // Hz stereo. Null with Error::no_device, no_driver or start_failed.
    std::unique_ptr<OutputDevice> (*open_output_device)(int device, uint32_t rate, Error* error);
};

}  // namespace audio
