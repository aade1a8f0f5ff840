// One stream of the engine: its decoder, its playback state and its gain
// ramp. Public calls change the state through atomics; the mixer thread does
// the decoding, holding the stream's own mutex only while it does.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

#include "bass.h"
#include "decode/decoder.h"
#include "mix/stereo_pipeline.h"

namespace audio {

// Opens a fresh decoder of a stream's content (for rewinding); null with a
// BASS_ERROR_* in *error on failure.
using DecoderOpener = std::function<std::unique_ptr<Decoder>(int* error)>;

enum class StreamState : int {
    stopped = BASS_ACTIVE_STOPPED,
    playing = BASS_ACTIVE_PLAYING,
    paused = BASS_ACTIVE_PAUSED,
    ended,
};

class Stream {
public:
    Stream(std::unique_ptr<Decoder> decoder, DecoderOpener reopen, uint32_t flags,
           uint32_t out_rate);

    uint32_t flags() const { return flags_; }
    bool is_decode_channel() const { return (flags_ & BASS_STREAM_DECODE) != 0; }
    bool auto_free() const { return (flags_ & BASS_STREAM_AUTOFREE) != 0; }
    BASS_CHANNELINFO info() const { return info_; }

    StreamState state() const { return state_.load(); }
    void set_state(StreamState state) { state_.store(state); }
    uint64_t position() const { return position_.load(); }

    // Goes back to the start of the content by opening it anew. Returns a
    // BASS_ERROR_* code, 0 on success.
    int rewind();

    // Mixes the next `frames` frames into mix (stereo, output rate), ramping
    // the gain towards 1 while playing and towards 0 otherwise. scratch holds
    // 2 * frames floats. Returns false once the stream has gone silent
    // (paused or stopped after its ramp, or at its end).
    bool mix_into(float* mix, float* scratch, size_t frames);

    // Decode channels: fills out with up to `frames` frames at the stream's
    // own format. Returns the frames written; 0 at the end.
    size_t read_decoded(float* out, size_t frames);

    // The render thread marks a stream it is mixing, so the engine knows not
    // to list it twice. Guarded by the engine's table mutex.
    bool in_mix_list = false;
    // Released (freed, or stopped with auto-free) while still audible: the
    // mixer plays out its ramp, then drops it. Guarded by the table mutex.
    bool released = false;

private:
    std::mutex mutex_;  // guards decoder_, pipeline_ and gain_
    std::unique_ptr<Decoder> decoder_;
    std::unique_ptr<StereoPipeline> pipeline_;
    DecoderOpener reopen_;
    const uint32_t flags_;
    const uint32_t out_rate_;
    const float ramp_step_;  // gain change per output frame
    BASS_CHANNELINFO info_;
    float gain_ = 0.0f;
    std::atomic<StreamState> state_{StreamState::stopped};
    std::atomic<uint64_t> position_{0};
};

}  // namespace audio
