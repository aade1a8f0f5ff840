// Fuzz target: arbitrary bytes as a memory stream through the public calls,
// decoded to the end as a decode channel. Whatever the bytes, the library
// must refuse them or decode them without crashing, hanging or leaking.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "bass.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool initialised = BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr) != FALSE;
    if (!initialised || size == 0) return 0;
    HSTREAM stream = BASS_StreamCreateFile(TRUE, data, 0, DWORD(size), BASS_STREAM_DECODE);
    if (!stream) return 0;
    BASS_CHANNELINFO info;
    BASS_ChannelGetInfo(stream, &info);
    std::vector<float> buffer(4096);
    // Bounded, so that a tiny input claiming hours of audio stays quick.
    for (int i = 0; i < 256; ++i) {
        if (BASS_ChannelGetData(stream, buffer.data(), DWORD(buffer.size() * sizeof(float))) == DWORD(-1)) break;
    }
    BASS_StreamFree(stream);
    return 0;
}
