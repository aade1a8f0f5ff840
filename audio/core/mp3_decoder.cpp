// MP3: our scanner finds the frames, the platform's codec decodes them, one
// frame per conversion.
#include "bass.h"
#include "codec_decoder.h"
#include "format_limits.h"
#include "formats.h"
#include "mp3_scanner.h"

namespace audio {
namespace {

class Mp3Decoder : public CodecDecoder {
public:
    Mp3Decoder(std::unique_ptr<ByteSource> source, std::unique_ptr<Mp3Scanner> scanner,
               std::unique_ptr<BlockConverter> converter, AudioFormat format)
        : CodecDecoder(std::move(converter), BASS_CTYPE_MP3, format),
          source_(std::move(source)), scanner_(std::move(scanner)) {}

protected:
    bool next_packet(std::vector<uint8_t>& packet) override { return scanner_->next_frame(packet); }

private:
    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<Mp3Scanner> scanner_;
};

}  // namespace

std::unique_ptr<Decoder> open_mp3_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, int* error) {
    auto scanner = std::make_unique<Mp3Scanner>(*source);
    if (int result = scanner->open()) {
        *error = result;
        return nullptr;
    }
    const Mp3FrameHeader& first = scanner->first_header();
    AudioFormat format{first.rate, first.channels};
    std::unique_ptr<BlockConverter> converter = converters(mp3_wave_format(first), error);
    if (!converter) return nullptr;
    // The codec must deliver the stream's own format, or the samples would be
    // misread.
    AudioFormat out = converter->output_format();
    if (out.rate != format.rate || out.channels != format.channels || !format_supported(out.rate, out.channels)) {
        *error = BASS_ERROR_FILEFORM;
        return nullptr;
    }
    return std::make_unique<Mp3Decoder>(std::move(source), std::move(scanner), std::move(converter), format);
}

}  // namespace audio
