// Pulling decoded, mapped and resampled frames in fixed-size blocks, with
// every buffer allocated up front.
#include "mix/stereo_pipeline.h"

#include <algorithm>

namespace audio {
namespace {
constexpr size_t kDecodeFrames = 1024;  // frames decoded per step
}  // namespace

StereoPipeline::StereoPipeline(Decoder& decoder, uint32_t out_rate)
    : decoder_(decoder), channels_(decoder.format().channels), map_(channels_),
      resampler_(decoder.format().rate, out_rate), decoded_(kDecodeFrames * channels_),
      stereo_(kDecodeFrames * 2), in_rate_(decoder.format().rate), out_rate_(out_rate) {}

uint64_t StereoPipeline::frames_consumed() const {
    return std::min(consumed_, produced_ * in_rate_ / out_rate_);
}

bool StereoPipeline::feed() {
    size_t want = std::min(kDecodeFrames, resampler_.space());
    size_t got = want ? decoder_.read(decoded_.data(), want) : 0;
    if (got == 0) return false;
    map_.to_stereo(decoded_.data(), stereo_.data(), got);
    resampler_.push(stereo_.data(), got);
    consumed_ += got;
    return true;
}

size_t StereoPipeline::pull(float* out, size_t frames) {
    size_t done = 0;
    while (done < frames) {
        done += resampler_.pull(out + 2 * done, frames - done);
        if (done == frames || input_done_) break;
        if (!feed()) {
            input_done_ = true;
            resampler_.flush();
        }
    }
    produced_ += done;
    return done;
}

}  // namespace audio
