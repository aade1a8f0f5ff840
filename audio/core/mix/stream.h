// One stream of the engine: its decoder, its playback state and its gain
// ramp. Public calls change the state through atomics; the mixer thread does
// the decoding, holding the stream's own mutex only while it does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "decode/decoder.h"
#include "mix/stereo_pipeline.h"
#include "mix/stream_info.h"

namespace audio {

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
    uint64_t position() const { return position_.load(); }
    // Playing to paused; false when it was not playing.
    bool pause();
    // Stopped, except that a stream at its end stays there, so that the next
    // play starts it over.
    void stop();
    // Its mixing threw (memory ran short): stopped, and played again only
    // from a fresh start, since its decoder may be half way through a step.
    bool failed() const { return failed_.load(); }
    void mark_failed();

    // Goes back to the start of the content by opening it anew. Returns
    // Error::none on success (Error::no_memory when memory ran short), and
    // leaves the stream as it was on failure.
    Error rewind();

    // Mixes the next `frames` frames into mix (stereo, output rate), ramping
    // the gain towards 1 while playing and towards 0 otherwise. scratch holds
    // 2 * frames floats. Returns false once the stream has gone silent
    // (paused or stopped after its ramp, or at its end).
    bool mix_into(float* mix, float* scratch, size_t frames);

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
    std::mutex mutex_;  // guards decoder_, pipeline_ and gain_
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<StereoPipeline> pipeline_;
    DecoderOpener reopen_;
    const uint32_t handle_;  // the engine's handle of this stream
    const StreamOptions options_;
    const uint32_t out_rate_;
    const float ramp_step_;  // gain change per output frame
    StreamInfo info_;
    float gain_ = 0.0f;
    std::atomic<StreamState> state_{StreamState::stopped};
    std::atomic<uint64_t> position_{0};
    std::atomic<bool> failed_{false};
    bool in_mix_list_ = false;  // these two: see in_mix_list() and released()
    bool released_ = false;
};

}  // namespace audio
