// WAVEFORMATEX arithmetic.
#include "wave_format_ex.h"

namespace audio {

WAVEFORMATEX wave_format_ex(WORD tag, DWORD rate, WORD channels, WORD bits) {
    WAVEFORMATEX format = {};
    format.wFormatTag = tag;
    format.nChannels = channels;
    format.nSamplesPerSec = rate;
    format.wBitsPerSample = bits;
    format.nBlockAlign = static_cast<WORD>(channels * bits / 8);
    format.nAvgBytesPerSec = rate * format.nBlockAlign;
    format.cbSize = 0;
    return format;
}

}  // namespace audio
