// MP3, on its own or inside a WAV file: our scanner finds the frames, a
// guard silences garbage among them, the platform's codec decodes them, one
// frame per conversion (a codec per channel count where the stream switches
// between mono and stereo; the first frame decides the output's). Where the
// encoder recorded its delay and padding, the silence they stand for is cut,
// so the output holds exactly the samples that were encoded.
#include <algorithm>

#include "decode/codec_decoder.h"
#include "decode/format_limits.h"
#include "decode/formats.h"
#include "decode/mp3_frame_guard.h"
#include "decode/mp3_mode_switch.h"
#include "decode/mp3_scanner.h"
#include "decode/wav_parser.h"

namespace audio {
namespace {

// The codec's own delay, in samples per channel: its synthesis filter bank
// puts sample n of the signal at sample n + 529 of its output. Measured on
// the system's ACM MP3 codec (Wine's, under which the tests run): chirps
// starting at a known sample, encoded by lame with and without its tag at
// 44.1, 32, 22.05 and 8 kHz in mono and stereo, decoded through this
// library and cross-correlated with the source. The peak sat at lame's
// delay (576) + 529 at every rate and channel count, and at lag 0 against
// mpg123 --no-gapless: the codec removes none of the filter delay and adds
// no latency of its own.
constexpr uint64_t kCodecDelay = 529;

class Mp3Decoder : public CodecDecoder {
public:
    Mp3Decoder(std::unique_ptr<ByteSource> source, std::unique_ptr<Mp3Scanner> scanner,
               std::unique_ptr<BlockConverter> converter, AudioFormat format, ContentType content_type)
        : CodecDecoder(std::move(converter), content_type, format), source_(std::move(source)),
          scanner_(std::move(scanner)), channels_(scanner_->first_header().channels),
          frame_samples_(scanner_->first_header().samples) {
        // Without the encoder's word the start stays as the codec gives it;
        // the end stops after the frames fed, leaving out the silence the
        // flush frame brings.
        if (const Mp3EncoderGap* gap = scanner_->encoder_gap()) {
            skip_start(gap->delay + kCodecDelay);
            tail_ = int64_t(kCodecDelay) - int64_t(gap->padding);
        }
        limit_end(0);
    }

protected:
    // The file's frames, then one silent frame: a codec may hold a frame back
    // until the next one begins, and without it the last frame of sound
    // would be lost.
    bool next_packet(std::vector<uint8_t>& packet) override {
        if (scanner_->next_frame(packet)) {
            if (scanner_->resyncs() != resyncs_) {
                resyncs_ = scanner_->resyncs();
                guard_.break_reservoir();
            }
            uint32_t channels = (packet[3] >> 6) == 3 ? 1 : 2;
            if (channels != channels_) guard_.start_codec();  // see Mp3ModeSwitchConverter
            channels_ = channels;
            guard_.pass(packet);
            last_header_.assign(packet.begin(), packet.begin() + 4);
            last_size_ = packet.size();
            fed_samples_ += frame_samples_;
            limit_end(uint64_t(std::max<int64_t>(0, int64_t(fed_samples_) + tail_)));
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
    Mp3FrameGuard guard_;
    int resyncs_ = 0;                   // the scanner's resyncs seen so far
    uint32_t channels_;                 // of the last frame fed
    const uint64_t frame_samples_;      // samples per channel in every frame
    uint64_t fed_samples_ = 0;          // the frames fed so far, in samples
    int64_t tail_ = 0;                  // where the output ends, after the frames fed
    std::vector<uint8_t> last_header_;  // header of the last frame fed
    size_t last_size_ = 0;              // its size in bytes
    bool flushed_ = false;              // the silent frame has been fed
};

// Opens the codec for wave_format; null with *error set unless it delivers
// 16-bit PCM of a supported format, and of `expected` when that is given.
std::unique_ptr<BlockConverter> open_converter(const std::vector<uint8_t>& wave_format,
                                               const AudioFormat* expected,
                                               const ConverterFactory& converters, Error* error) {
    std::unique_ptr<BlockConverter> converter = converters(wave_format, error);
    if (!converter) return nullptr;
    AudioFormat out = converter->output_format();
    bool matches = !expected || (out.rate == expected->rate && out.channels == expected->channels);
    if (!matches || !format_supported(out.rate, out.channels)) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    return converter;
}

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
    // The codec must deliver the stream's own format, or the samples would be
    // misread.
    AudioFormat format{first.rate, first.channels};
    auto converter = open_converter(mp3_wave_format(first), &format, converters, error);
    if (!converter) return nullptr;
    converter = std::make_unique<Mp3ModeSwitchConverter>(std::move(converter), converters);
    return std::make_unique<Mp3Decoder>(std::move(source), std::move(scanner), std::move(converter), format,
                                        ContentType::mp3);
}

std::unique_ptr<Decoder> open_mp3_wav_decoder(std::unique_ptr<ByteSource>& source, const WavLayout& layout,
                                              const ConverterFactory& converters, Error* error) {
    auto scanner = std::make_unique<Mp3Scanner>(*source, layout.data_offset, layout.data_offset + layout.data_size);
    if (scanner->open() != Error::none) {
        *error = Error::not_this_format;
        return nullptr;
    }
    // The codec is opened with the file's own format chunk, as for any
    // compressed WAV.
    auto converter = open_converter(layout.fmt_chunk, nullptr, converters, error);
    if (!converter) return nullptr;
    AudioFormat format = converter->output_format();
    converter = std::make_unique<Mp3ModeSwitchConverter>(std::move(converter), converters);
    return std::make_unique<Mp3Decoder>(std::move(source), std::move(scanner), std::move(converter), format,
                                        ContentType::wav_codec);
}

}  // namespace audio
