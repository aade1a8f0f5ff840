// The table of error code names.
#include "error_names.h"

#include "bass.h"

namespace audio {

const char* error_name(int code) {
    switch (code) {
#define AUDIO_ERROR_CASE(name) case name: return #name;
        AUDIO_ERROR_CASE(BASS_OK)
        AUDIO_ERROR_CASE(BASS_ERROR_MEM)
        AUDIO_ERROR_CASE(BASS_ERROR_FILEOPEN)
        AUDIO_ERROR_CASE(BASS_ERROR_DRIVER)
        AUDIO_ERROR_CASE(BASS_ERROR_HANDLE)
        AUDIO_ERROR_CASE(BASS_ERROR_FORMAT)
        AUDIO_ERROR_CASE(BASS_ERROR_INIT)
        AUDIO_ERROR_CASE(BASS_ERROR_START)
        AUDIO_ERROR_CASE(BASS_ERROR_ALREADY)
        AUDIO_ERROR_CASE(BASS_ERROR_ILLPARAM)
        AUDIO_ERROR_CASE(BASS_ERROR_DEVICE)
        AUDIO_ERROR_CASE(BASS_ERROR_NOPLAY)
        AUDIO_ERROR_CASE(BASS_ERROR_FILEFORM)
        AUDIO_ERROR_CASE(BASS_ERROR_DECODE)
        AUDIO_ERROR_CASE(BASS_ERROR_ENDED)
#undef AUDIO_ERROR_CASE
    default: return "BASS_ERROR_UNKNOWN";
    }
}

}  // namespace audio
