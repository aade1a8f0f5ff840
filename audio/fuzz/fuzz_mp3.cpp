// Fuzz target: the MP3 frame finder. Natively no codec exists, so a stand-in
// converter checks that every packet it is handed is one whole frame that
// starts with a valid header of the stream's format.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "decode/formats.h"
#include "decode/mp3_frame.h"

namespace {

class CheckingConverter : public audio::BlockConverter {
public:
    explicit CheckingConverter(audio::AudioFormat format) : format_(format) {}
    audio::AudioFormat output_format() const override { return format_; }
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        audio::Mp3FrameHeader header;
        if (!audio::parse_mp3_frame_header(std::vector<uint8_t>(in, in + n), &header) || header.rate != format_.rate)
            std::abort();
        out.insert(out.end(), header.samples * format_.channels, int16_t(0));
        return true;
    }

private:
    audio::AudioFormat format_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    audio::ConverterFactory converters = [](const std::vector<uint8_t>& format, audio::Error*) {
        // The format bytes the MP3 decoder built: channels at 2, rate at 4.
        audio::AudioFormat out{uint32_t(format[4] | format[5] << 8 | format[6] << 16 | format[7] << 24),
                               uint32_t(format[2])};
        return std::make_unique<CheckingConverter>(out);
    };
    // The MP3 entry of the probe table directly: other formats' compressed
    // data would reach the checking converter too.
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::ByteSource> source = audio::make_memory_source(data, size);
    auto decoder = audio::open_mp3_decoder(source, converters, &error);
    if (!decoder) return 0;
    std::vector<float> buffer(4096 * decoder->format().channels);
    for (int i = 0; i < 256 && decoder->read(buffer.data(), 4096) > 0; ++i) {
    }
    return 0;
}
