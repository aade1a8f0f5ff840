// Stream handles, state changes and the mixer.
#include "engine.h"

#include <algorithm>
#include <new>

#include "platform.h"

namespace audio {
namespace {

constexpr size_t kMixBlock = 512;  // frames mixed per step
// Handles are never reused during a run, across engines too, so that a stale
// handle can never reach a newer stream.
std::atomic<uint32_t> next_handle{1};

// Takes a fresh handle, skipping 0, which means "no stream".
uint32_t new_handle() {
    uint32_t handle;
    do handle = next_handle.fetch_add(1); while (handle == 0);
    return handle;
}

}  // namespace

Engine::Engine(uint32_t out_rate, ConverterFactory converters)
    : out_rate_(out_rate),
      converters_(converters ? std::move(converters) : ConverterFactory(open_block_converter)),
      scratch_(2 * kMixBlock) {
    render_list_.reserve(64);
    finished_.reserve(64);
    mixing_.reserve(64);
}

Engine::~Engine() { free_all(); }

uint32_t Engine::create_stream(SourceOpener open_source, uint32_t flags, int* error) {
    try {
        ConverterFactory converters = converters_;
        DecoderOpener reopen = [open_source, converters](int* err) -> std::unique_ptr<Decoder> {
            std::unique_ptr<ByteSource> source = open_source(err);
            if (!source) return nullptr;
            return open_decoder(std::move(source), converters, err);
        };
        std::unique_ptr<Decoder> decoder = reopen(error);
        if (!decoder) return 0;
        auto stream = std::make_shared<Stream>(std::move(decoder), std::move(reopen), flags, out_rate_);
        uint32_t handle = new_handle();
        std::lock_guard<std::mutex> lock(table_mutex_);
        streams_.emplace(handle, std::move(stream));
        return handle;
    } catch (const std::bad_alloc&) {
        *error = BASS_ERROR_MEM;
        return 0;
    }
}

std::shared_ptr<Stream> Engine::find(uint32_t handle) {
    std::lock_guard<std::mutex> lock(table_mutex_);
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

void Engine::add_to_mix(const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> lock(table_mutex_);
    if (stream->in_mix_list) return;
    stream->in_mix_list = true;
    mixing_.push_back(stream);
}

void Engine::release(uint32_t handle, const std::shared_ptr<Stream>& stream) {
    std::lock_guard<std::mutex> lock(table_mutex_);
    streams_.erase(handle);
    stream->released = true;
}

int Engine::free_stream(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    stream->set_state(StreamState::stopped);
    release(handle, stream);
    return 0;
}

int Engine::play(uint32_t handle, bool restart) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    if (stream->is_decode_channel()) return BASS_ERROR_DECODE;
    StreamState state = stream->state();
    if (state == StreamState::playing && !restart) return 0;
    // An ended stream starts again from its beginning.
    if (restart || state == StreamState::ended) {
        if (int error = stream->rewind()) return error;
    }
    stream->set_state(StreamState::playing);
    add_to_mix(stream);
    return 0;
}

int Engine::pause(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    if (stream->state() != StreamState::playing) return BASS_ERROR_NOPLAY;
    stream->set_state(StreamState::paused);
    return 0;
}

int Engine::stop(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    // A stream at its end stays there, so that the next play starts it over.
    bool at_end = stream->state() == StreamState::ended || stream->is_decode_channel();
    stream->set_state(at_end ? StreamState::ended : StreamState::stopped);
    if (stream->auto_free()) release(handle, stream);
    return 0;
}

int Engine::is_active(uint32_t handle, uint32_t* state) {
    std::shared_ptr<Stream> stream = find(handle);
    *state = BASS_ACTIVE_STOPPED;
    if (!stream) return BASS_ERROR_HANDLE;
    StreamState s = stream->state();
    if (s == StreamState::playing || s == StreamState::paused) *state = uint32_t(s);
    if (s == StreamState::playing && output_stalled_.load()) *state = BASS_ACTIVE_STALLED;
    return 0;
}

int Engine::position(uint32_t handle, uint64_t* frames) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    *frames = stream->position();
    return 0;
}

int Engine::info(uint32_t handle, BASS_CHANNELINFO* info) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    *info = stream->info();
    return 0;
}

int Engine::read_decoded(uint32_t handle, float* out, size_t frames, size_t* got) {
    *got = 0;
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return BASS_ERROR_HANDLE;
    if (!stream->is_decode_channel()) return BASS_ERROR_ILLPARAM;  // played streams give no data
    if (stream->state() == StreamState::ended) return 0;
    *got = stream->read_decoded(out, frames);
    if (*got == 0) stream->set_state(StreamState::ended);
    return 0;
}

void Engine::free_all() {
    std::vector<std::shared_ptr<Stream>> doomed;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> table;
    {
        std::lock_guard<std::mutex> lock(table_mutex_);
        table.swap(streams_);
        doomed.swap(mixing_);
        for (auto& stream : doomed) stream->in_mix_list = false;
    }
    // Destroyed here, outside the lock.
}

size_t Engine::stream_count() {
    std::lock_guard<std::mutex> lock(table_mutex_);
    return streams_.size();
}

void Engine::render(float* out, size_t frames) {
    while (frames > 0) {
        size_t n = std::min(frames, kMixBlock);
        render_block(out, n);
        out += 2 * n;
        frames -= n;
    }
}

void Engine::render_block(float* out, size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    {
        std::lock_guard<std::mutex> lock(table_mutex_);
        render_list_.assign(mixing_.begin(), mixing_.end());
    }
    // Decoding happens here, with no engine lock held.
    finished_.clear();
    for (const auto& stream : render_list_) {
        std::fill(scratch_.begin(), scratch_.end(), 0.0f);
        if (!stream->mix_into(out, scratch_.data(), frames)) finished_.push_back(stream);
    }
    // Master volume, moved linearly across the block so that changes do not click.
    float target = volume_.load();
    float step = (target - applied_volume_) / float(frames);
    for (size_t i = 0; i < frames; ++i) {
        float gain = applied_volume_ + step * float(i + 1);
        out[2 * i] *= gain;
        out[2 * i + 1] *= gain;
    }
    applied_volume_ = target;
    if (finished_.empty()) {
        render_list_.clear();
        return;
    }
    // Take silent streams off the mix, unless a call restarted them meanwhile;
    // release the ones that ended with auto-free.
    {
        std::lock_guard<std::mutex> lock(table_mutex_);
        for (const auto& stream : finished_) {
            StreamState state = stream->state();
            if (state == StreamState::playing && !stream->released) continue;
            auto it = std::find(mixing_.begin(), mixing_.end(), stream);
            if (it == mixing_.end()) continue;
            mixing_.erase(it);
            stream->in_mix_list = false;
            if (state == StreamState::ended && stream->auto_free() && !stream->released) {
                stream->released = true;
                for (auto entry = streams_.begin(); entry != streams_.end(); ++entry) {
                    if (entry->second == stream) {
                        streams_.erase(entry);
                        break;
                    }
                }
            }
        }
    }
    finished_.clear();
    render_list_.clear();
}

}  // namespace audio
