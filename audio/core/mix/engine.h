// The engine: the table of streams by handle, the feeder threads that decode
// each playing stream ahead into its queue, the mixer that renders the queues
// to stereo at the output rate, and the master volume. It knows no device: a
// device (or a test) pulls render() on its own thread, which only mixes:
// it never decodes, reads, allocates or frees, and never waits on a lock
// that is held while another thread does.
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
#include "mix/feeder.h"
#include "mix/output_device.h"
#include "mix/stream.h"
#include "mix/stream_info.h"

namespace audio {

// Opens the bytes of a stream's content, again each time it is rewound.
using SourceOpener = std::function<std::unique_ptr<ByteSource>(Error* error)>;

// Feeder threads: more than one, so that a stream stuck in a read leaves
// another thread to feed the rest.
constexpr size_t kFeederThreads = 2;

class Engine : public RenderSource {
public:
    // converters open the codecs of compressed content (the platform's);
    // without them, compressed content is refused as an unsupported format.
    // With no feeder threads, only the callers' feed() and Play fill the
    // queues (tests that need to know which thread decodes).
    explicit Engine(uint32_t out_rate, ConverterFactory converters = nullptr,
                    size_t feeder_threads = kFeederThreads);
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
    // Why a stream stopped on its own while it played (Error::no_memory),
    // until it is played again; Error::none when it did not.
    Error failure(uint32_t handle);
    // Decode channels: up to `frames` frames into out; *got 0 at the end.
    Error read_decoded(uint32_t handle, float* out, size_t frames, size_t* got);

    // Master volume in percent, applied as the linear gain percent / 100.
    void set_volume(uint32_t percent) { volume_.store(float(percent) / 100.0f); }
    uint32_t volume() const { return uint32_t(volume_.load() * 100.0f + 0.5f); }

    // Releases every stream at once (no fade: the output is going away).
    void free_all();
    // One pass of the feeder threads' work, on the calling thread: takes the
    // streams that went quiet off the mix (releasing those that free
    // themselves), and tops up every playing stream's queue. Renderers that
    // run faster than real time (tests) call it between renders, so that
    // what they hear does not depend on the feeder threads' timing.
    void feed();
    // Blocks in which a playing stream's queue ran dry, since the start.
    uint64_t underrun_count() const { return underruns_.load(); }
    size_t stream_count();
    // Every stream the engine still holds: those with a handle, and released
    // ones the mixer keeps until their fade ends. Leak checks watch this.
    size_t held_stream_count();

    // Mixes every playing stream's queue into `frames` stereo frames.
    void render(float* out, size_t frames) override;
    // While the output is gone, playing streams report StreamState::stalled.
    void set_output_stalled(bool stalled) override { output_stalled_.store(stalled); }

private:
    using MixList = std::vector<std::shared_ptr<Stream>>;

    std::shared_ptr<Stream> find(uint32_t handle);
    std::shared_ptr<Stream> find(const TableLock& lock, uint32_t handle);
    // Sets a stream playing and puts it on the mixer's list, in one step
    // under the table lock; a stream released meanwhile stays out
    // (Error::bad_handle).
    Error start_playing(const std::shared_ptr<Stream>& stream);
    // Releases a stream: out of the table now, out of the mix after its ramp.
    void release(const TableLock& lock, const std::shared_ptr<Stream>& stream);
    // True while an output is rendering: not stalled, and a render came lately.
    bool output_heard() const;
    // Takes released streams off the mix at once while nobody hears their
    // fade, so that their memory, files and codecs go now. Returns the old list.
    std::shared_ptr<const MixList> drop_unheard(const TableLock& lock);
    // Makes `list` the one the render thread mixes; returns the old one,
    // which the caller lets go after the lock (so never on the render thread).
    std::shared_ptr<const MixList> publish(const TableLock& lock, std::shared_ptr<const MixList> list);
    // The feeding pass; `wait` as in Stream::fill.
    void feed_streams(bool wait);
    // Takes the streams that went quiet and stay so off the mixer's list,
    // and the released ones too while nobody hears them; releases the ones
    // that ended with auto-free. Returns the old list.
    std::shared_ptr<const MixList> reap_quiet(const TableLock& lock);
    // Tops up one stream's queue; a stream whose decoding throws stops (and
    // is released if it frees itself) while the others play on.
    void fill(const std::shared_ptr<Stream>& stream, size_t wanted, bool wait);
    // Scales the block by the master volume.
    void apply_master_volume(float* out, size_t frames);

    const uint32_t out_rate_;
    ConverterFactory converters_;
    // Guards streams_, the streams' list flags and the writing of
    // mix_list_; a state change that decides a stream's place in the mix
    // is made under it too. Never taken by the render thread.
    std::mutex table_mutex_;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> streams_;
    // Held by the render thread while it mixes, and elsewhere only for a
    // few steps that neither allocate nor free: swapping mix_list_, and
    // emptying a stream's queue on rewind.
    std::mutex mix_mutex_;
    // The streams the mixer renders. Never changed in place: a new list
    // replaces it, so the render thread holds no reference of its own and
    // never destroys a stream or a list.
    std::shared_ptr<const MixList> mix_list_;
    std::atomic<float> volume_{1.0f};
    std::atomic<bool> output_stalled_{false};
    // When the last render began, in steady-clock nanoseconds; 0: never.
    std::atomic<int64_t> last_render_ns_{0};
    std::atomic<uint64_t> underruns_{0};
    float applied_volume_ = 1.0f;  // render thread only
    std::unique_ptr<Feeder> feeder_;  // last: its threads use all of the above
};

}  // namespace audio
