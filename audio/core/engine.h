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

#include "bass.h"
#include "output_device.h"
#include "probe.h"
#include "stream.h"

namespace audio {

// Opens the bytes of a stream's content, again each time it is rewound.
using SourceOpener = std::function<std::unique_ptr<ByteSource>(int* error)>;

class Engine : public RenderSource {
public:
    explicit Engine(uint32_t out_rate, ConverterFactory converters = nullptr);
    ~Engine() override;

    uint32_t output_rate() const { return out_rate_; }

    // Creates a stream of the content that open_source provides; returns its
    // handle, or 0 with a BASS_ERROR_* in *error.
    uint32_t create_stream(SourceOpener open_source, uint32_t flags, int* error);

    // The stream calls; each returns a BASS_ERROR_* code, 0 on success.
    int free_stream(uint32_t handle);
    int play(uint32_t handle, bool restart);
    int pause(uint32_t handle);
    int stop(uint32_t handle);
    int is_active(uint32_t handle, uint32_t* state);
    int position(uint32_t handle, uint64_t* frames);
    int info(uint32_t handle, BASS_CHANNELINFO* info);
    // Decode channels: up to `frames` frames into out; *got 0 at the end.
    int read_decoded(uint32_t handle, float* out, size_t frames, size_t* got);

    // Master volume in percent, applied as the linear gain percent / 100.
    void set_volume(uint32_t percent) { volume_.store(float(percent) / 100.0f); }
    uint32_t volume() const { return uint32_t(volume_.load() * 100.0f + 0.5f); }

    // Releases every stream at once (no fade: the output is going away).
    void free_all();
    size_t stream_count();

    // Mixes every playing stream into `frames` stereo frames.
    void render(float* out, size_t frames) override;
    // While the output is gone, playing streams report BASS_ACTIVE_STALLED.
    void set_output_stalled(bool stalled) override { output_stalled_.store(stalled); }

private:
    std::shared_ptr<Stream> find(uint32_t handle);
    // Puts a stream on the mixer's list, if it is not there yet.
    void add_to_mix(const std::shared_ptr<Stream>& stream);
    // Releases a stream: out of the table now, out of the mix after its ramp.
    void release(uint32_t handle, const std::shared_ptr<Stream>& stream);
    // Mixes one block of at most kMixBlock frames.
    void render_block(float* out, size_t frames);

    const uint32_t out_rate_;
    ConverterFactory converters_;
    std::mutex table_mutex_;  // guards streams_, mixing_ and the streams' list flags
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
