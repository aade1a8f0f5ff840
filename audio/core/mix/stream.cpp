// Stream state, rewinding, decoding ahead into the queue, and the
// per-stream part of mixing.
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
    if (is_decode_channel()) return;
    pipeline_ = std::make_unique<StereoPipeline>(*decoder_, out_rate_);
    queue_ = std::make_unique<FrameQueue>(size_t(kDecodeAheadSeconds * out_rate_));
    fade_out_.resize(2 * (size_t(kRampSeconds * float(out_rate_)) + 2));
}

uint64_t Stream::position() const {
    if (is_decode_channel()) return heard_.load();
    return std::min(heard_.load() * info_.rate / out_rate_, end_frames_.load());
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

void Stream::mark_failed(Error why) {
    failure_.store(why);
    state_.store(StreamState::stopped);
}

Error Stream::rewind(std::mutex& mix_mutex) {
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
        std::lock_guard<std::mutex> fill_lock(fill_mutex_);
        // The old decoder and pipeline move out here and are destroyed after
        // both locks are released.
        std::swap(decoder_, fresh);
        std::swap(pipeline_, pipeline);
        std::lock_guard<std::mutex> mix_lock(mix_mutex);
        if (queue_) {
            keep_fade_out();
            queue_->reset();
        }
        gain_ = 0.0f;
        starving_ = false;
        heard_.store(0);
        end_frames_.store(UINT64_MAX);
        failure_.store(Error::none);
    }
    return Error::none;
}

void Stream::fill(size_t wanted, bool wait) {
    if (!queue_) return;
    std::unique_lock<std::mutex> lock(fill_mutex_, std::defer_lock);
    if (wait) {
        lock.lock();
    } else if (!lock.try_lock()) {
        return;  // another thread is filling it
    }
    fill_locked(wanted);
}

void Stream::fill_locked(size_t wanted) {
    if (failed()) return;
    while (!queue_->end_marked() && queue_->available() < wanted) {
        size_t room = 0;
        float* run = queue_->write_run(&room);
        if (room == 0) return;
        size_t got = pipeline_->pull(run, room);
        queue_->commit(got);
        if (got < room) {
            end_frames_.store(pipeline_->frames_consumed());
            queue_->mark_end();
        }
    }
}

size_t Stream::frames_to_take(float target, size_t frames) const {
    if (target != 0.0f) return frames;
    // Fading out, take only what the ramp needs, so that a paused stream
    // resumes right where it went quiet.
    return std::min(frames, size_t(gain_ / ramp_step_) + 1);
}

size_t Stream::mix_queued(float* mix, size_t frames, float target) {
    size_t done = 0;
    float gain = gain_;
    while (done < frames) {
        size_t ready = 0;
        const float* run = queue_->read_run(&ready);
        size_t n = std::min(ready, frames - done);
        if (n == 0) break;
        float* to = mix + 2 * done;
        for (size_t i = 0; i < n; ++i) {
            if (gain != target) {
                gain = target > gain ? std::min(target, gain + ramp_step_) : std::max(target, gain - ramp_step_);
            }
            to[2 * i] += run[2 * i] * gain;
            to[2 * i + 1] += run[2 * i + 1] * gain;
        }
        queue_->consume(n);
        done += n;
    }
    gain_ = gain;
    return done;
}

void Stream::keep_fade_out() {
    size_t wanted = gain_ > 0.0f ? std::min(size_t(gain_ / ramp_step_) + 1, fade_out_.size() / 2) : 0;
    size_t kept = 0;
    float gain = gain_;
    while (kept < wanted) {
        size_t ready = 0;
        const float* run = queue_->read_run(&ready);
        ready = std::min(ready, wanted - kept);
        if (ready == 0) break;
        for (size_t i = 0; i < ready; ++i, ++kept) {
            gain = std::max(0.0f, gain - ramp_step_);
            fade_out_[2 * kept] = run[2 * i] * gain;
            fade_out_[2 * kept + 1] = run[2 * i + 1] * gain;
        }
        queue_->consume(ready);
    }
    fade_out_frames_ = kept;
    fade_out_at_ = 0;
}

void Stream::mix_fade_out(float* mix, size_t frames) {
    size_t n = std::min(frames, fade_out_frames_ - fade_out_at_);
    const float* from = fade_out_.data() + 2 * fade_out_at_;
    for (size_t i = 0; i < 2 * n; ++i) mix[i] += from[i];
    fade_out_at_ += n;
}

bool Stream::mix_into(float* mix, size_t frames) {
    bool fading_out = fade_out_at_ < fade_out_frames_;
    if (fading_out) mix_fade_out(mix, frames);
    float target = state_.load() == StreamState::playing ? 1.0f : 0.0f;
    if (gain_ == 0.0f && target == 0.0f) {
        quiet_.store(!fading_out);
        return false;
    }
    quiet_.store(false);
    // Seen before draining, so that an empty queue with its end marked
    // really is the end and not a frame on its way.
    bool at_end = queue_->end_marked();
    size_t wanted = frames_to_take(target, frames);
    size_t got = mix_queued(mix, wanted, target);
    heard_.fetch_add(got);
    bool underrun_began = false;
    if (got < wanted && at_end) {
        // Only a stream still playing becomes ended; one paused or stopped
        // meanwhile keeps that state.
        StreamState playing = StreamState::playing;
        state_.compare_exchange_strong(playing, StreamState::ended);
        gain_ = 0.0f;
    } else if (got < wanted && target == 0.0f) {
        gain_ = 0.0f;  // nothing left to fade out
    } else if (got < wanted) {
        underrun_began = !starving_;
        starving_ = true;
        if (underrun_began) underruns_.fetch_add(1);
    } else {
        starving_ = false;
    }
    if (gain_ == 0.0f && target == 0.0f) quiet_.store(fade_out_at_ == fade_out_frames_);
    return underrun_began;
}

size_t Stream::read_decoded(float* out, size_t frames) {
    std::lock_guard<std::mutex> lock(fill_mutex_);
    size_t channels = info_.channels;
    size_t done = 0;
    while (done < frames) {
        size_t got = decoder_->read(out + done * channels, frames - done);
        if (got == 0) break;
        done += got;
    }
    heard_.fetch_add(done);
    return done;
}

}  // namespace audio
