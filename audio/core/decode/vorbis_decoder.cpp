// Ogg Vorbis through the reference decoder (vorbisfile over libvorbis and
// libogg), reading from the ByteSource as it plays: opening reads only the
// headers, never the whole file. libogg checks every page's checksum and
// finds the next page after damage, so a damaged page costs about its own
// audio and the rest of the file still plays.
#include <algorithm>
#include <cstring>

#include "decode/format_limits.h"
#include "decode/formats.h"
#include "decode/vorbis_byte_reader.h"

namespace audio {
namespace {

// The headers of each link may hold large pictures in their comments; beyond
// this they are taken for a hostile or damaged file (the whole header is kept
// in memory).
constexpr uint64_t kMaxHeaderBytes = 64u << 20;
// Bytes one read() may pull from the source: room to step over a damaged
// page of the largest size and read the good one after it.
constexpr uint64_t kReadBudgetBytes = 256u << 10;
// A stretch this long without audio ends the stream: it is not Ogg, or a
// packet that never ends (which would only take memory).
constexpr uint64_t kMaxGapBytes = 16u << 20;
// Frames of silence a read() gives for a stretch of damage that used its
// whole budget without yielding audio, so that the caller does not take it
// for the end.
constexpr size_t kGapFrames = 1024;
// Frames asked of vorbisfile at once.
constexpr int kChunkFrames = 4096;

// Vorbis orders channels differently from WAV; the mixer expects WAV order.
// kReorder[n][k] is the Vorbis channel that becomes WAV channel k.
const uint8_t kReorder[9][8] = {
    {}, {0}, {0, 1}, {0, 2, 1}, {0, 1, 2, 3}, {0, 2, 1, 3, 4},
    {0, 2, 1, 5, 3, 4}, {0, 2, 1, 6, 5, 3, 4}, {0, 2, 1, 7, 5, 6, 3, 4},
};

class VorbisDecoder : public Decoder {
public:
    explicit VorbisDecoder(std::unique_ptr<ByteSource> source)
        : source_(std::move(source)), reader_(*source_, file_, kMaxHeaderBytes) {}
    ~VorbisDecoder() override { ov_clear(&file_); }

    // Reads the headers; false with the error in *error when they are
    // missing, damaged, too large or of an unsupported format.
    bool open(Error* error) {
        reader_.allow(kMaxHeaderBytes);
        if (ov_open_callbacks(&reader_, &file_, nullptr, 0, VorbisByteReader::callbacks()) != 0) {
            *error = Error::bad_file_format;
            return false;
        }
        vorbis_info* info = ov_info(&file_, -1);
        if (!info || info->rate <= 0 || !format_supported(uint32_t(info->rate), uint32_t(info->channels))) {
            *error = Error::bad_file_format;
            return false;
        }
        format_ = AudioFormat{uint32_t(info->rate), uint32_t(info->channels)};
        for (uint32_t k = 0; k < format_.channels; ++k)
            order_[k] = format_.channels <= 8 ? kReorder[format_.channels][k] : uint8_t(k);
        // Asking for no samples sets up the synthesis (tables, buffers) and
        // decodes the first packets now, not on the mixing thread at the
        // first play; what it decodes stays for the first read.
        // A setup that libvorbis cannot build its decoder from is refused
        // here: asked again, libvorbis would go on with the half-built
        // codebooks of the failed attempt and divide by zero.
        float** unused = nullptr;
        reader_.allow(kReadBudgetBytes);
        long primed = ov_read_float(&file_, &unused, 0, nullptr);
        if (primed < 0 && primed != OV_HOLE) {
            *error = Error::bad_file_format;
            return false;
        }
        return true;
    }

    // Gives the source back after a failed open.
    std::unique_ptr<ByteSource> release_source() {
        ov_clear(&file_);
        return std::move(source_);
    }

    AudioFormat format() const override { return format_; }
    ContentType content_type() const override { return ContentType::ogg; }

    size_t read(float* out, size_t frames) override {
        reader_.allow(kReadBudgetBytes);
        size_t written = 0;
        while (written < frames && !ended_) {
            float** pcm = nullptr;
            long got = ov_read_float(&file_, &pcm, int(std::min(frames - written, size_t(kChunkFrames))), nullptr);
            if (got > 0 && same_format()) {
                copy_reordered(pcm, size_t(got), out + written * format_.channels);
                written += size_t(got);
            } else if (got == 0 && reader_.exhausted()) {
                break;  // the budget is spent; the next call goes on from here
            } else if (got != OV_HOLE) {
                ended_ = true;  // the end, an unrecoverable error, or a new link of another format
            }
        }
        return written > 0 || ended_ ? note_progress(written) : fill_gap(out, frames);
    }

private:
    // A chained file may change its format at a link; the stream cannot.
    bool same_format() {
        vorbis_info* info = ov_info(&file_, -1);
        return info && uint32_t(info->channels) == format_.channels && uint32_t(info->rate) == format_.rate;
    }

    void copy_reordered(float** pcm, size_t frames, float* dst) const {
        const uint32_t channels = format_.channels;
        for (size_t i = 0; i < frames; ++i, dst += channels)
            for (uint32_t k = 0; k < channels; ++k) dst[k] = pcm[order_[k]][i];
    }

    size_t note_progress(size_t written) {
        gap_bytes_ = 0;
        return written;
    }

    // A read that spent its budget on damage gives a little silence, until
    // the damage has gone on for too long to be anything but the end.
    size_t fill_gap(float* out, size_t frames) {
        gap_bytes_ += kReadBudgetBytes;
        if (gap_bytes_ >= kMaxGapBytes) {
            ended_ = true;
            return 0;
        }
        size_t n = std::min(frames, kGapFrames);
        std::fill(out, out + n * format_.channels, 0.0f);
        return n;
    }

    std::unique_ptr<ByteSource> source_;
    OggVorbis_File file_{};
    VorbisByteReader reader_;
    AudioFormat format_;
    uint8_t order_[kMaxChannels] = {};
    uint64_t gap_bytes_ = 0;
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
    source->seek(0);
    auto decoder = std::make_unique<VorbisDecoder>(std::move(source));
    if (!decoder->open(error)) {
        // The opener leaves the source to the caller when it fails.
        source = decoder->release_source();
        return nullptr;
    }
    return decoder;
}

}  // namespace audio
