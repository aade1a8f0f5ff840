// Ogg Vorbis through stb_vorbis's pushdata interface, fed from the
// ByteSource in chunks: nothing reads the whole file or scans it ahead, so
// opening costs the same for a one-second file as for a one-hour one.
#include <algorithm>
#include <cstring>

#include "decode/format_limits.h"
#include "decode/formats.h"
#include "decode/vorbis_header_check.h"

#define STB_VORBIS_NO_STDIO 1
#define STB_VORBIS_NO_PULLDATA_API 1
#define STB_VORBIS_HEADER_ONLY 1
#include <stb_vorbis.h>

namespace audio {
namespace {

constexpr size_t kChunkBytes = 8192;  // bytes read from the source per step
// stb_vorbis allocates from an arena of ours: it bounds what a damaged header
// can make it allocate, and nothing can leak on its error paths. The arena
// always has room for the comments (checked beforehand), since stb_vorbis
// cannot recover from failing to store them; a setup that needs more than
// the first arena is retried with larger ones.
constexpr size_t kBaseArenaBytes = 256 * 1024;
constexpr size_t kMaxArenaBytes = 32u << 20;
// A header or frame larger than this is taken for damage (real headers with
// embedded cover art stay well below it).
constexpr size_t kMaxBufferBytes = 16u << 20;

// Vorbis orders channels differently from WAV; the mixer expects WAV order.
// kReorder[n][k] is the Vorbis channel that becomes WAV channel k.
const uint8_t kReorder[9][8] = {
    {}, {0}, {0, 1}, {0, 2, 1}, {0, 1, 2, 3}, {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4}, {0, 2, 1, 6, 5, 3, 4}, {0, 2, 1, 7, 5, 6, 3, 4},
};

// A growing window of the source's bytes that stb_vorbis has not used yet.
class InputBuffer {
public:
    explicit InputBuffer(ByteSource& source) : source_(source) {}
    const uint8_t* data() const { return bytes_.data() + begin_; }
    int size() const { return int(end_ - begin_); }
    void consume(int n) { begin_ += size_t(n); }

    // Appends more of the source; false at its end or when the unused bytes
    // would outgrow kMaxBufferBytes.
    bool fill() {
        if (begin_ > 0) {
            std::memmove(bytes_.data(), bytes_.data() + begin_, end_ - begin_);
            end_ -= begin_;
            begin_ = 0;
        }
        if (bytes_.size() - end_ < kChunkBytes) {
            if (bytes_.size() >= kMaxBufferBytes) return false;
            bytes_.resize(std::max(bytes_.size() * 2, kChunkBytes * 2));
        }
        size_t got = source_.read(bytes_.data() + end_, bytes_.size() - end_);
        end_ += got;
        return got > 0;
    }

private:
    ByteSource& source_;
    std::vector<uint8_t> bytes_;
    size_t begin_ = 0, end_ = 0;
};

class VorbisDecoder : public Decoder {
public:
    VorbisDecoder(std::unique_ptr<ByteSource> source, std::unique_ptr<InputBuffer> input,
                  std::vector<char> arena, stb_vorbis* vorbis)
        : source_(std::move(source)), input_(std::move(input)), arena_(std::move(arena)), vorbis_(vorbis) {
        stb_vorbis_info info = stb_vorbis_get_info(vorbis_);
        format_.rate = info.sample_rate;
        format_.channels = uint32_t(info.channels);
        for (uint32_t k = 0; k < format_.channels; ++k)
            order_[k] = format_.channels <= 8 ? kReorder[format_.channels][k] : uint8_t(k);
    }
    ~VorbisDecoder() override { stb_vorbis_close(vorbis_); }

    AudioFormat format() const override { return format_; }
    ContentType content_type() const override { return ContentType::ogg; }

    size_t read(float* out, size_t frames) override {
        size_t written = 0;
        const uint32_t channels = format_.channels;
        while (written < frames) {
            if (frame_pos_ == frame_len_ && !decode_frame()) break;
            size_t n = std::min(frames - written, size_t(frame_len_ - frame_pos_));
            for (size_t i = 0; i < n; ++i) {
                float* dst = out + (written + i) * channels;
                for (uint32_t k = 0; k < channels; ++k) dst[k] = frame_[order_[k]][frame_pos_ + int(i)];
            }
            frame_pos_ += int(n);
            written += n;
        }
        return written;
    }

private:
    // Decodes the next frame that has samples; false at the end of the data.
    bool decode_frame() {
        while (!ended_) {
            int channels = 0, samples = 0;
            float** output = nullptr;
            int used = stb_vorbis_decode_frame_pushdata(vorbis_, input_->data(), input_->size(),
                                                        &channels, &output, &samples);
            if (used == 0 && samples == 0) {
                if (!input_->fill()) ended_ = true;  // truncated or finished
                continue;
            }
            input_->consume(used);
            if (samples > 0 && channels == int(format_.channels)) {
                frame_ = output;
                frame_len_ = samples;
                frame_pos_ = 0;
                return true;
            }
        }
        return false;
    }

    std::unique_ptr<ByteSource> source_;
    std::unique_ptr<InputBuffer> input_;
    std::vector<char> arena_;  // all of stb_vorbis's memory for this stream
    stb_vorbis* vorbis_;
    AudioFormat format_;
    uint8_t order_[kMaxChannels] = {};
    float** frame_ = nullptr;  // stb_vorbis's buffers for the current frame
    int frame_len_ = 0, frame_pos_ = 0;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Decoder> open_vorbis_decoder(std::unique_ptr<ByteSource>& source,
                                             const ConverterFactory&, Error* error) {
    uint8_t magic[4];
    if (source->read(magic, 4) != 4 || std::memcmp(magic, "OggS", 4) != 0) {
        *error = Error::not_this_format;
        return nullptr;
    }
    // The comment list takes up to twice the header's size in pointers.
    size_t comment_bytes = 0;
    if (!check_vorbis_comment_header(*source, &comment_bytes)) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    source->seek(0);
    auto input = std::make_unique<InputBuffer>(*source);
    std::vector<char> arena(kBaseArenaBytes + 3 * comment_bytes);
    if (!input->fill()) {
        *error = Error::bad_file_format;
        return nullptr;
    }
    // Hand stb_vorbis ever more of the file's start until the headers fit.
    stb_vorbis* vorbis = nullptr;
    while (!vorbis) {
        int used = 0, vorbis_error = 0;
        stb_vorbis_alloc alloc{arena.data(), int(arena.size())};
        vorbis = stb_vorbis_open_pushdata(input->data(), input->size(), &used, &vorbis_error, &alloc);
        if (vorbis) {
            input->consume(used);
        } else if (vorbis_error == VORBIS_need_more_data) {
            if (!input->fill()) {
                *error = Error::bad_file_format;
                return nullptr;
            }
        } else if (vorbis_error == VORBIS_outofmem && arena.size() < kMaxArenaBytes) {
            arena.assign(arena.size() * 4, 0);
        } else {
            // Every other stb_vorbis error, and headers that want more than
            // the largest arena, mean an invalid or damaged file.
            *error = Error::bad_file_format;
            return nullptr;
        }
    }
    stb_vorbis_info info = stb_vorbis_get_info(vorbis);
    if (!format_supported(info.sample_rate, uint32_t(info.channels))) {
        stb_vorbis_close(vorbis);
        *error = Error::bad_file_format;
        return nullptr;
    }
    return std::make_unique<VorbisDecoder>(std::move(source), std::move(input), std::move(arena), vorbis);
}

}  // namespace audio
