// The table of formats, tried in order: the ones with a strict signature
// first, MP3 (which has to hunt for frame sync) last.
#include "decode/probe.h"

#include <new>

#include "decode/formats.h"

namespace audio {
namespace {

const FormatOpener kFormats[] = {open_wav_decoder, open_vorbis_decoder, open_mp3_decoder};

}  // namespace

std::unique_ptr<Decoder> open_decoder(std::unique_ptr<ByteSource> source,
                                      const ConverterFactory& converters, Error* error) {
    Error kept = Error::not_this_format;
    if (!source) {
        *error = Error::file_open;
        return nullptr;
    }
    try {
        for (FormatOpener open : kFormats) {
            if (!source->seek(0)) break;
            Error probe_error = Error::not_this_format;
            std::unique_ptr<Decoder> decoder = open(source, converters, &probe_error);
            if (decoder) return decoder;
            // The first format that recognised the content and then failed
            // knows best what is wrong with it.
            if (kept == Error::not_this_format) kept = probe_error;
        }
    } catch (const std::bad_alloc&) {
        kept = Error::no_memory;
    }
    *error = kept == Error::not_this_format ? Error::bad_file_format : kept;
    return nullptr;
}

}  // namespace audio
