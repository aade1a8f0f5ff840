// The one builder of the WAVEFORMATEX headers that the codecs and the output
// backends are given.
#pragma once

#include <windows.h>
#include <mmreg.h>

namespace audio {

// An uncompressed format (PCM, IEEE float, or the header of an extensible
// one) of `bits`-bit samples: block size and byte rate follow from the rest,
// and cbSize is 0 (an extensible format sets its own).
WAVEFORMATEX wave_format_ex(WORD tag, DWORD rate, WORD channels, WORD bits);

}  // namespace audio
