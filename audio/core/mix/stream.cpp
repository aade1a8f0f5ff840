// Stream state, rewinding, and the per-stream part of mixing.
#include "mix/stream.h"

#include <algorithm>
#include <new>

namespace audio {
namespace {
// Start, pause and stop fade over this long, so that they never click.
constexpr float kRampSeconds = 0.005f;
}  // namespace

Stream::Stream(uint32_t handle, std::unique_ptr<Decoder> decoder, DecoderOpener reopen,
               StreamOptions options, uint32_t out_rate)
    : decoder_(std::move(decoder)), reopen_(std::move(reopen)), handle_(handle), options_(options),
      out_rate_(out_rate), ramp_step_(1.0f / (kRampSeconds * float(out_rate))) {
    AudioFormat format = decoder_->format();
    info_ = StreamInfo{format.rate, format.channels, options.caller_flags, decoder_->content_type()};
    if (!is_decode_channel()) pipeline_ = std::make_unique<StereoPipeline>(*decoder_, out_rate_);
}

bool Stream::pause() {
    StreamState playing = StreamState::playing;
    return state_.compare_exchange_strong(playing, StreamState::paused);
}

void Stream::stop() {
    StreamState state = state_.load();
    StreamState next;
    // Retried if the mixer ends the stream meanwhile.
    do {
        next = state == StreamState::ended || is_decode_channel() ? StreamState::ended : StreamState::stopped;
    } while (!state_.compare_exchange_weak(state, next));
}

void Stream::mark_failed() {
    failed_.store(true);
    state_.store(StreamState::stopped);
}

Error Stream::rewind() {
    Error error = Error::bad_file_format;
    std::unique_ptr<Decoder> fresh;
    std::unique_ptr<StereoPipeline> pipeline;
    try {
        fresh = reopen_ ? reopen_(&error) : nullptr;
        if (!fresh) return error;
        if (!is_decode_channel()) pipeline = std::make_unique<StereoPipeline>(*fresh, out_rate_);
    } catch (const std::bad_alloc&) {
        return Error::no_memory;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // The old decoder and pipeline move out here and are destroyed after
        // the lock is released.
        std::swap(decoder_, fresh);
        std::swap(pipeline_, pipeline);
        gain_ = 0.0f;
        position_.store(0);
        failed_.store(false);
    }
    return Error::none;
}

bool Stream::mix_into(float* mix, float* scratch, size_t frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    float target = state_.load() == StreamState::playing ? 1.0f : 0.0f;
    if (gain_ == 0.0f && target == 0.0f) return false;
    // Fading out, consume only what the ramp needs, so that a paused stream
    // resumes right where it went quiet.
    size_t wanted = frames;
    if (target == 0.0f) wanted = std::min(frames, size_t(gain_ / ramp_step_) + 1);
    size_t got = pipeline_->pull(scratch, wanted);
    position_.store(pipeline_->frames_consumed());
    float gain = gain_;
    for (size_t i = 0; i < got; ++i) {
        if (gain != target) {
            gain = target > gain ? std::min(target, gain + ramp_step_) : std::max(target, gain - ramp_step_);
        }
        mix[2 * i] += scratch[2 * i] * gain;
        mix[2 * i + 1] += scratch[2 * i + 1] * gain;
    }
    gain_ = gain;
    if (got < wanted) {
        // The content has ended: only a stream still playing becomes ended;
        // one paused or stopped meanwhile keeps that state.
        StreamState playing = StreamState::playing;
        state_.compare_exchange_strong(playing, StreamState::ended);
        gain_ = 0.0f;
        return false;
    }
    return !(gain_ == 0.0f && target == 0.0f);
}

size_t Stream::read_decoded(float* out, size_t frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    size_t channels = info_.channels;
    size_t done = 0;
    while (done < frames) {
        size_t got = decoder_->read(out + done * channels, frames - done);
        if (got == 0) break;
        done += got;
    }
    position_.fetch_add(done);
    return done;
}

}  // namespace audio
