// The engine: the table of streams by handle, the mixer that renders them to
// stereo at the output rate, and the master volume. It knows no device: a
// device (or a test) pulls render() on its own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "decode/decoder.h"
#include "error.h"
#include "io/byte_source.h"
#include "mix/output_device.h"
#include "mix/stream.h"
#include "mix/stream_info.h"

namespace audio {

// Opens the bytes of a stream's content, again each time it is rewound.
using SourceOpener = std::function<std::unique_ptr<ByteSource>(Error* error)>;

class Engine : public RenderSource {
public:
    // converters open the codecs of compressed content (the platform's);
    // without them, compressed content is refused as an unsupported format.
    explicit Engine(uint32_t out_rate, ConverterFactory converters = nullptr);
    ~Engine() override;

    // Creates a stream of the content that open_source provides; returns its
    // handle, or 0 with the error in *error.
    uint32_t create_stream(SourceOpener open_source, StreamOptions options, Error* error);

    // The stream calls; each returns Error::none on success.
    Error free_stream(uint32_t handle);
    Error play(uint32_t handle, bool restart);
    Error pause(uint32_t handle);
    Error stop(uint32_t handle);
    Error state(uint32_t handle, StreamState* state);
    Error position(uint32_t handle, uint64_t* frames);
    Error info(uint32_t handle, StreamInfo* info);
    // Decode channels: up to `frames` frames into out; *got 0 at the end.
    Error read_decoded(uint32_t handle, float* out, size_t frames, size_t* got);

    // Master volume in percent, applied as the linear gain percent / 100.
    void set_volume(uint32_t percent) { volume_.store(float(percent) / 100.0f); }
    uint32_t volume() const { return uint32_t(volume_.load() * 100.0f + 0.5f); }

    // Releases every stream at once (no fade: the output is going away).
    void free_all();
    size_t stream_count();
    // Every stream the engine still holds: those with a handle, and released
    // ones the mixer keeps until their fade ends. Leak checks watch this.
    size_t held_stream_count();

    // Mixes every playing stream into `frames` stereo frames.
    void render(float* out, size_t frames) override;
    // While the output is gone, playing streams report StreamState::stalled.
    void set_output_stalled(bool stalled) override { output_stalled_.store(stalled); }

private:
    std::shared_ptr<Stream> find(uint32_t handle);
    std::shared_ptr<Stream> find(const TableLock& lock, uint32_t handle);
    // Sets a stream playing and puts it on the mixer's list, in one step
    // under the table lock; a stream released meanwhile stays out
    // (Error::bad_handle).
    Error start_playing(const std::shared_ptr<Stream>& stream);
    // Releases a stream: out of the table now, out of the mix after its ramp.
    void release(const TableLock& lock, const std::shared_ptr<Stream>& stream);
    // Mixes one block of at most kMixBlock frames: the steps below in turn.
    void render_block(float* out, size_t frames);
    // Mixes every stream of render_list_ into out; the ones that went silent
    // go to finished_.
    void mix_streams(float* out, size_t frames);
    // Takes a stream whose mixing threw off the mix, stopped; releases it
    // if it frees itself.
    void drop_failed(const std::shared_ptr<Stream>& stream);
    // Scales the block by the master volume.
    void apply_master_volume(float* out, size_t frames);
    // Takes the finished streams off the mix, and releases the ones that
    // ended with auto-free.
    void reap_finished();

    const uint32_t out_rate_;
    ConverterFactory converters_;
    // Guards streams_, mixing_ and the streams' list flags; a state change
    // that decides a stream's place in the mix is made under it too.
    std::mutex table_mutex_;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> streams_;
    std::vector<std::shared_ptr<Stream>> mixing_;  // streams the mixer renders
    std::atomic<float> volume_{1.0f};
    std::atomic<bool> output_stalled_{false};
    // Render-thread state, allocated once.
    std::vector<std::shared_ptr<Stream>> render_list_;
    std::vector<std::shared_ptr<Stream>> finished_;
    std::vector<float> scratch_;
    float applied_volume_ = 1.0f;
};

}  // namespace audio
