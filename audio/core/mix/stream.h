// One stream of the engine: its decoder, the queue of sound decoded ahead of
// the device, its playback state and its gain ramp. Public calls change the
// state through atomics. The decoder runs on a feeder thread (or a caller's)
// under the stream's fill mutex, which the render thread never takes: the
// render thread only mixes out of the queue.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "decode/decoder.h"
#include "mix/frame_queue.h"
#include "mix/stereo_pipeline.h"
#include "mix/stream_info.h"

namespace audio {

// How far each playing stream is decoded ahead of the device: its queue
// holds this much sound at the output rate (8 bytes a frame).
constexpr double kDecodeAheadSeconds = 0.5;

// Opens a fresh decoder of a stream's content (for rewinding); null with the
// error in *error on failure.
using DecoderOpener = std::function<std::unique_ptr<Decoder>(Error* error)>;

// Held while touching the engine's lists: the engine's table mutex, locked.
using TableLock = std::lock_guard<std::mutex>;

class Stream {
public:
    Stream(uint32_t handle, std::unique_ptr<Decoder> decoder, DecoderOpener reopen,
           StreamOptions options, uint32_t out_rate);

    uint32_t handle() const { return handle_; }
    bool is_decode_channel() const { return options_.decode_only; }
    bool auto_free() const { return options_.auto_free; }
    StreamInfo info() const { return info_; }

    StreamState state() const { return state_.load(); }
    void set_state(StreamState state) { state_.store(state); }
    // The position of the sound that has left the mixer, in the content's
    // own frames; sound decoded ahead does not count.
    uint64_t position() const;
    // Playing to paused; false when it was not playing.
    bool pause();
    // Stopped, except that a stream at its end stays there, so that the next
    // play starts it over.
    void stop();
    // Its decoding threw (memory ran short): stopped, and played again only
    // from a fresh start, since its decoder may be half way through a step.
    // failure() says why (Error::no_memory), until it is played again.
    bool failed() const { return failure() != Error::none; }
    Error failure() const { return failure_.load(); }
    void mark_failed(Error why);

    // Goes back to the start of the content by opening it anew, and empties
    // the queue; the old sound of a stream still heard fades out while the
    // new one fades in. mix_mutex is the one the render thread holds while
    // it mixes. Returns Error::none on success
    // (Error::no_memory when memory ran short), and leaves the stream as it
    // was on failure.
    Error rewind(std::mutex& mix_mutex);

    // Producer side. Decodes into the queue until it is full, or holds at
    // least `wanted` frames, and marks its end when the content ends. When
    // the queue is being filled elsewhere, waits for that only if `wait`.
    // Throws std::bad_alloc when the decoder does.
    void fill(size_t wanted, bool wait);
    size_t queue_capacity() const { return queue_ ? queue_->capacity() : 0; }

    // Render side. Mixes the next `frames` frames from the queue into mix
    // (stereo, output rate), ramping the gain towards 1 while playing and
    // towards 0 otherwise; a queue that runs dry while playing gives
    // silence, and the sound goes on where it was when frames come again.
    // Returns true when this block began such an underrun.
    bool mix_into(float* mix, size_t frames);
    // Silent at its last mix and staying so until it is played: the feeder
    // may take it off the mixer's list.
    bool went_quiet() const { return quiet_.load(); }
    uint64_t underruns() const { return underruns_.load(); }

    // Decode channels: fills out with up to `frames` frames at the stream's
    // own format. Returns the frames written; 0 at the end.
    size_t read_decoded(float* out, size_t frames);

    // The engine's bookkeeping of the stream, touched only by the engine and
    // only under its table mutex: each call takes the held lock as proof.
    // On the mixer's list, so that it is never listed twice.
    bool in_mix_list(const TableLock&) const { return in_mix_list_; }
    void set_in_mix_list(const TableLock&, bool listed) { in_mix_list_ = listed; }
    // Released (freed, or stopped with auto-free): out of the handle table,
    // and the mixer drops it once its ramp has played out.
    bool released(const TableLock&) const { return released_; }
    void mark_released(const TableLock&) { released_ = true; }

private:
    // Decodes while the queue has room and fewer than `wanted` frames.
    void fill_locked(size_t wanted);
    // The number of frames the next mix takes: all while playing, only what
    // the ramp needs while fading out.
    size_t frames_to_take(float target, size_t frames) const;
    // Mixes up to `frames` queued frames into mix with the gain ramp;
    // returns how many it found.
    size_t mix_queued(float* mix, size_t frames, float target);
    // On a restart, takes the old sound's fade out from the head of the
    // queue, with its ramp applied, so that it crossfades with the new sound
    // instead of being cut. Under both the fill and the mix mutex.
    void keep_fade_out();
    // Mixes the next part of that fade out.
    void mix_fade_out(float* mix, size_t frames);

    std::mutex fill_mutex_;  // guards decoder_, pipeline_ and the queue's producer side
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<StereoPipeline> pipeline_;
    std::unique_ptr<FrameQueue> queue_;  // none for decode channels
    DecoderOpener reopen_;
    const uint32_t handle_;  // the engine's handle of this stream
    const StreamOptions options_;
    const uint32_t out_rate_;
    const float ramp_step_;  // gain change per output frame
    StreamInfo info_;
    std::atomic<StreamState> state_{StreamState::stopped};
    std::atomic<Error> failure_{Error::none};
    // Render side, changed elsewhere only under the render thread's mutex.
    float gain_ = 0.0f;
    bool starving_ = false;         // the queue ran dry while playing
    std::vector<float> fade_out_;  // the old sound's fade after a restart, allocated once
    size_t fade_out_frames_ = 0;    // frames of it kept, and mixed so far
    size_t fade_out_at_ = 0;
    std::atomic<bool> quiet_{true};
    std::atomic<uint64_t> heard_{0};  // frames mixed (or read) since the start
    std::atomic<uint64_t> underruns_{0};
    // The content's length in its own frames, once the decoder reached it.
    std::atomic<uint64_t> end_frames_{UINT64_MAX};
    bool in_mix_list_ = false;  // these two: see in_mix_list() and released()
    bool released_ = false;
};

}  // namespace audio
