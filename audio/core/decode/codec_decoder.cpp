// Converted PCM buffering for codec-based decoders.
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

bool CodecDecoder::refill() {
    // Keep an incomplete frame that a packet may have left behind.
    pcm_.erase(pcm_.begin(), pcm_.begin() + long(pcm_pos_));
    pcm_pos_ = 0;
    int failures = 0;
    while (pcm_.size() < format_.channels) {
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
    }
    return true;
}

size_t CodecDecoder::read(float* out, size_t frames) {
    const size_t channels = format_.channels;
    size_t written = 0;
    while (written < frames) {
        size_t available = (pcm_.size() - pcm_pos_) / channels;
        if (available == 0) {
            if (!refill()) break;
            continue;
        }
        size_t n = std::min(available, frames - written);
        int16_to_float(pcm_.data() + pcm_pos_, out + written * channels, n * channels);
        pcm_pos_ += n * channels;
        written += n;
    }
    return written;
}

}  // namespace audio
