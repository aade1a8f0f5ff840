// MP3: our scanner finds the frames, the platform's codec decodes them, one
// frame per conversion.
#include <algorithm>

#include "decode/codec_decoder.h"
#include "decode/format_limits.h"
#include "decode/formats.h"
#include "decode/mp3_scanner.h"

namespace audio {
namespace {

class Mp3Decoder : public CodecDecoder {
public:
    Mp3Decoder(std::unique_ptr<ByteSource> source, std::unique_ptr<Mp3Scanner> scanner,
               std::unique_ptr<BlockConverter> converter, AudioFormat format)
        : CodecDecoder(std::move(converter), ContentType::mp3, format),
          source_(std::move(source)), scanner_(std::move(scanner)) {}

protected:
    // The file's frames, then one silent frame: a codec may hold a frame back
    // until the next one begins, and without it the last frame of sound
    // would be lost.
    bool next_packet(std::vector<uint8_t>& packet) override {
        if (scanner_->next_frame(packet)) {
            last_header_.assign(packet.begin(), packet.begin() + 4);
            last_size_ = packet.size();
            return true;
        }
        if (flushed_ || last_size_ == 0) return false;
        flushed_ = true;
        packet.assign(last_size_, 0);
        std::copy(last_header_.begin(), last_header_.end(), packet.begin());
        return true;
    }

private:
    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<Mp3Scanner> scanner_;
    std::vector<uint8_t> last_header_;  // header of the last frame fed
    size_t last_size_ = 0;              // its size in bytes
    bool flushed_ = false;              // the silent frame has been fed
};

}  // namespace

std::unique_ptr<Decoder> open_mp3_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, Error* error) {
    auto scanner = std::make_unique<Mp3Scanner>(*source);
    Error scanned = scanner->open();
    if (scanned != Error::none) {
        *error = scanned;
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
        *error = Error::bad_file_format;
        return nullptr;
    }
    return std::make_unique<Mp3Decoder>(std::move(source), std::move(scanner), std::move(converter), format);
}

}  // namespace audio
