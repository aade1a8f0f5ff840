// The table of formats, tried in order: the ones with a strict signature
// first, MP3 (which has to hunt for frame sync) last.
#include "decode/probe.h"

#include <new>

#include "bass.h"
#include "decode/formats.h"
#include "platform.h"

namespace audio {
namespace {

struct FormatEntry {
    const char* name;
    FormatOpener open;
};

const FormatEntry kFormats[] = {
    {"wav", open_wav_decoder},
    {"ogg", open_vorbis_decoder},
    {"mp3", open_mp3_decoder},
};

}  // namespace

std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source,
                                      const ConverterFactory& converters, int* error) {
    int kept = kNotThisFormat;
    if (!source) {
        *error = BASS_ERROR_FILEOPEN;
        return nullptr;
    }
    try {
        for (const FormatEntry& format : kFormats) {
            if (!source->seek(0)) break;
            int probe_error = kNotThisFormat;
            std::unique_ptr<Decoder> decoder = format.open(source, converters, &probe_error);
            if (decoder) return decoder;
            // The first format that recognised the content and then failed
            // knows best what is wrong with it.
            if (kept == kNotThisFormat) kept = probe_error;
        }
    } catch (const std::bad_alloc&) {
        kept = BASS_ERROR_MEM;
    }
    *error = kept == kNotThisFormat ? BASS_ERROR_FILEFORM : kept;
    return nullptr;
}

std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source, int* error) {
    return open_decoder(std::move(source), open_block_converter, error);
}

}  // namespace audio
