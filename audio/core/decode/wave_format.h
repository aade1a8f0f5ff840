// The WAVE format tags the decoders meet, in WAV files and in the format
// descriptions that codecs take.
#pragma once

#include <cstdint>

namespace audio {

constexpr uint16_t kWaveFormatPcm = 0x0001;
constexpr uint16_t kWaveFormatFloat = 0x0003;
constexpr uint16_t kWaveFormatMp3 = 0x0055;
constexpr uint16_t kWaveFormatExtensible = 0xFFFE;

}  // namespace audio
