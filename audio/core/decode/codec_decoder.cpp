// Converted PCM buffering and trimming for codec-based decoders.
#include "decode/codec_decoder.h"

#include <algorithm>

#include "decode/sample_convert.h"

namespace audio {
namespace {
// A run of packets the codec rejects means the rest of the file is unusable.
constexpr int kMaxConsecutiveFailures = 16;
}  // namespace

CodecDecoder::CodecDecoder(std::unique_ptr<BlockConverter> converter, ContentType content_type,
                           AudioFormat format)
    : converter_(std::move(converter)), format_(format), content_type_(content_type) {}

size_t CodecDecoder::deliverable() const {
    uint64_t buffered = (pcm_.size() - pcm_pos_) / format_.channels;
    return size_t(std::min(buffered, end_ > taken_ ? end_ - taken_ : 0));
}

void CodecDecoder::drop_skipped() {
    size_t buffered = (pcm_.size() - pcm_pos_) / format_.channels;
    size_t n = size_t(std::min<uint64_t>(buffered, skip_ > taken_ ? skip_ - taken_ : 0));
    pcm_pos_ += n * format_.channels;
    taken_ += n;
}

bool CodecDecoder::refill() {
    // Keep an incomplete frame that a packet may have left behind.
    pcm_.erase(pcm_.begin(), pcm_.begin() + long(pcm_pos_));
    pcm_pos_ = 0;
    int failures = 0;
    while (deliverable() == 0) {
        if (ended_ || !next_packet(packet_)) {
            ended_ = true;
            return false;
        }
        if (converter_->convert(packet_.data(), packet_.size(), pcm_)) {
            failures = 0;
        } else if (++failures >= kMaxConsecutiveFailures) {
            ended_ = true;
            return false;
        }
        drop_skipped();
    }
    return true;
}

size_t CodecDecoder::read(float* out, size_t frames) {
    const size_t channels = format_.channels;
    size_t written = 0;
    while (written < frames) {
        size_t available = deliverable();
        if (available == 0) {
            if (!refill()) break;
            continue;
        }
        size_t n = std::min(available, frames - written);
        int16_to_float(pcm_.data() + pcm_pos_, out + written * channels, n * channels);
        pcm_pos_ += n * channels;
        written += n;
        taken_ += n;
    }
    return written;
}

}  // namespace audio
