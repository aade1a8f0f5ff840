// WAV decoding: integer PCM and IEEE float are read directly; compressed
// format tags go through the platform's codecs in whole blocks.
#include <algorithm>

#include "decode/codec_decoder.h"
#include "decode/format_limits.h"
#include "decode/formats.h"
#include "decode/sample_convert.h"
#include "decode/wav_parser.h"
#include "decode/wave_format.h"

namespace audio {
namespace {

// Raw bytes read per step: large enough to amortise the source's virtual call.
constexpr size_t kReadBytes = 16384;

class PcmWavDecoder : public Decoder {
public:
    PcmWavDecoder(std::unique_ptr<ByteSource> source, const WavLayout& layout,
                  SampleConverter convert, size_t sample_bytes, ContentType ctype)
        : source_(std::move(source)), convert_(convert), frame_bytes_(sample_bytes * layout.channels), ctype_(ctype),
          frames_left_(layout.data_size / frame_bytes_), raw_(kReadBytes + frame_bytes_) {
        format_.rate = layout.rate;
        format_.channels = layout.channels;
        source_->seek(layout.data_offset);
    }

    AudioFormat format() const override { return format_; }
    ContentType content_type() const override { return ctype_; }

    size_t read(float* out, size_t frames) override {
        size_t written = 0;
        size_t per_step = std::max<size_t>(1, kReadBytes / frame_bytes_);
        while (written < frames && frames_left_ > 0) {
            size_t want = size_t(std::min<uint64_t>({frames - written, per_step, frames_left_}));
            size_t got = source_->read(raw_.data(), want * frame_bytes_) / frame_bytes_;
            if (got == 0) {
                frames_left_ = 0;  // the file ended early (a read error or a shrunk file)
                break;
            }
            convert_(raw_.data(), out + written * format_.channels, got * format_.channels);
            written += got;
            frames_left_ -= got;
        }
        return written;
    }

private:
    std::unique_ptr<ByteSource> source_;
    SampleConverter convert_;
    size_t frame_bytes_;
    ContentType ctype_;
    uint64_t frames_left_;
    std::vector<uint8_t> raw_;
    AudioFormat format_;
};

// Compressed WAV data handed to the codec in whole blocks (MP3 frames go
// through the MP3 decoder; data where it finds none, in raw chunks).
class CodecWavDecoder : public CodecDecoder {
public:
    CodecWavDecoder(std::unique_ptr<ByteSource> source, const WavLayout& layout,
                    std::unique_ptr<BlockConverter> converter, AudioFormat format)
        : CodecDecoder(std::move(converter), ContentType::wav_codec, format), source_(std::move(source)),
          bytes_left_(layout.data_size) {
        size_t block = layout.format_tag == kWaveFormatMp3 ? 1 : layout.block_align;
        packet_bytes_ = std::max<size_t>(1, kReadBytes / 4 / block) * block;
        block_ = block;
        source_->seek(layout.data_offset);
    }

protected:
    bool next_packet(std::vector<uint8_t>& packet) override {
        size_t want = size_t(std::min<uint64_t>(packet_bytes_, bytes_left_));
        want -= want % block_;  // a trailing partial block cannot be decoded
        if (want == 0) return false;
        packet.resize(want);
        size_t got = source_->read(packet.data(), want);
        got -= got % block_;
        bytes_left_ = got == want ? bytes_left_ - got : 0;
        packet.resize(got);
        return got > 0;
    }

private:
    std::unique_ptr<ByteSource> source_;
    uint64_t bytes_left_;
    size_t packet_bytes_;
    size_t block_;
};

// Picks the direct reader for PCM and float data, if the layout is one.
SampleConverter direct_converter(const WavLayout& layout, ContentType* ctype) {
    int bytes = (layout.bits_per_sample + 7) / 8;
    if (layout.format_tag == kWaveFormatPcm && layout.bits_per_sample >= 1) {
        *ctype = ContentType::wav_pcm;
        return pcm_converter(bytes);
    }
    if (layout.format_tag == kWaveFormatFloat && layout.bits_per_sample % 8 == 0) {
        *ctype = ContentType::wav_float;
        return float_converter(bytes);
    }
    return nullptr;
}

// Opens the platform codec for a compressed layout and checks what it offers.
std::unique_ptr<Decoder> open_codec_wav(std::unique_ptr<ByteSource>& source,
                                        const WavLayout& layout,
                                        const ConverterFactory& converters, Error* error) {
    if (layout.block_align == 0 && layout.format_tag != kWaveFormatMp3) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    if (layout.format_tag == kWaveFormatMp3) {
        std::unique_ptr<Decoder> mp3 = open_mp3_wav_decoder(source, layout, converters, error);
        if (mp3 || *error != Error::not_this_format) return mp3;
    }
    std::unique_ptr<BlockConverter> converter = converters(layout.fmt_chunk, error);
    if (!converter) return nullptr;
    AudioFormat out = converter->output_format();
    if (!format_supported(out.rate, out.channels)) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    return std::make_unique<CodecWavDecoder>(std::move(source), layout, std::move(converter), out);
}

}  // namespace

std::unique_ptr<Decoder> open_wav_decoder(std::unique_ptr<ByteSource>& source,
                                          const ConverterFactory& converters, Error* error) {
    WavLayout layout;
    Error parsed = parse_wav(*source, &layout);
    if (parsed != Error::none) {
        *error = parsed;
        return nullptr;
    }
    if (!format_supported(layout.rate, layout.channels)) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    ContentType ctype = ContentType::wav_pcm;
    if (layout.format_tag == kWaveFormatPcm || layout.format_tag == kWaveFormatFloat) {
        SampleConverter convert = direct_converter(layout, &ctype);
        size_t sample_bytes = (layout.bits_per_sample + 7) / 8;
        if (!convert) {
            *error = Error::bad_file_format;
            return nullptr;
        }
        return std::make_unique<PcmWavDecoder>(std::move(source), layout, convert, sample_bytes, ctype);
    }
    return open_codec_wav(source, layout, converters, error);
}

}  // namespace audio
