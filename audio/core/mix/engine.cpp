// Stream handles, state changes and the mixer.
#include "mix/engine.h"

#include <algorithm>
#include <new>

#include "decode/probe.h"

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

// The converter factory of an engine given none: no codec at all.
std::unique_ptr<BlockConverter> no_converters(const std::vector<uint8_t>&, Error* error) {
    *error = Error::bad_file_format;
    return nullptr;
}

}  // namespace

Engine::Engine(uint32_t out_rate, ConverterFactory converters)
    : out_rate_(out_rate),
      converters_(converters ? std::move(converters) : ConverterFactory(no_converters)),
      scratch_(2 * kMixBlock) {
    render_list_.reserve(64);
    finished_.reserve(64);
    mixing_.reserve(64);
}

Engine::~Engine() { free_all(); }

uint32_t Engine::create_stream(SourceOpener open_source, StreamOptions options, Error* error) {
    try {
        ConverterFactory converters = converters_;
        DecoderOpener reopen = [open_source, converters](Error* err) -> std::unique_ptr<Decoder> {
            std::unique_ptr<ByteSource> source = open_source(err);
            if (!source) return nullptr;
            return open_decoder(std::move(source), converters, err);
        };
        std::unique_ptr<Decoder> decoder = reopen(error);
        if (!decoder) return 0;
        uint32_t handle = new_handle();
        auto stream = std::make_shared<Stream>(handle, std::move(decoder), std::move(reopen), options, out_rate_);
        TableLock lock(table_mutex_);
        streams_.emplace(handle, std::move(stream));
        return handle;
    } catch (const std::bad_alloc&) {
        *error = Error::no_memory;
        return 0;
    }
}

std::shared_ptr<Stream> Engine::find(uint32_t handle) {
    TableLock lock(table_mutex_);
    return find(lock, handle);
}

std::shared_ptr<Stream> Engine::find(const TableLock&, uint32_t handle) {
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

Error Engine::start_playing(const std::shared_ptr<Stream>& stream) {
    TableLock lock(table_mutex_);
    // Released since the caller found it: the handle is gone.
    if (stream->released(lock)) return Error::bad_handle;
    if (!stream->in_mix_list(lock)) {
        try {
            mixing_.push_back(stream);
        } catch (const std::bad_alloc&) {
            return Error::no_memory;
        }
        stream->set_in_mix_list(lock, true);
    }
    stream->set_state(StreamState::playing);
    return Error::none;
}

void Engine::release(const TableLock& lock, const std::shared_ptr<Stream>& stream) {
    streams_.erase(stream->handle());
    stream->mark_released(lock);
}

Error Engine::free_stream(uint32_t handle) {
    std::shared_ptr<Stream> stream;  // outlives the lock: streams are destroyed unlocked
    TableLock lock(table_mutex_);
    stream = find(lock, handle);
    if (!stream) return Error::bad_handle;
    stream->set_state(StreamState::stopped);
    release(lock, stream);
    return Error::none;
}

Error Engine::play(uint32_t handle, bool restart) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    if (stream->is_decode_channel()) return Error::decode_channel;
    StreamState state = stream->state();
    if (state == StreamState::playing && !restart) return Error::none;
    // An ended stream, or one whose decoding failed, starts again from its
    // beginning. Opening the content again is slow: it runs unlocked.
    if (restart || state == StreamState::ended || stream->failed()) {
        if (Error error = stream->rewind(); error != Error::none) return error;
    }
    return start_playing(stream);
}

Error Engine::pause(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    return stream->pause() ? Error::none : Error::not_playing;
}

Error Engine::stop(uint32_t handle) {
    std::shared_ptr<Stream> stream;  // outlives the lock
    TableLock lock(table_mutex_);
    stream = find(lock, handle);
    if (!stream) return Error::bad_handle;
    stream->stop();
    if (stream->auto_free()) release(lock, stream);
    return Error::none;
}

Error Engine::state(uint32_t handle, StreamState* state) {
    std::shared_ptr<Stream> stream = find(handle);
    *state = StreamState::stopped;
    if (!stream) return Error::bad_handle;
    *state = stream->state();
    if (*state == StreamState::playing && output_stalled_.load()) *state = StreamState::stalled;
    return Error::none;
}

Error Engine::position(uint32_t handle, uint64_t* frames) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    *frames = stream->position();
    return Error::none;
}

Error Engine::info(uint32_t handle, StreamInfo* info) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    *info = stream->info();
    return Error::none;
}

Error Engine::read_decoded(uint32_t handle, float* out, size_t frames, size_t* got) {
    *got = 0;
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    if (!stream->is_decode_channel()) return Error::bad_parameter;  // played streams give no data
    if (stream->state() == StreamState::ended) return Error::none;
    *got = stream->read_decoded(out, frames);
    if (*got > 0) return Error::none;
    stream->set_state(StreamState::ended);
    if (stream->auto_free()) {
        TableLock lock(table_mutex_);
        if (!stream->released(lock)) release(lock, stream);
    }
    return Error::none;
}

void Engine::free_all() {
    std::vector<std::shared_ptr<Stream>> doomed;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> table;
    {
        TableLock lock(table_mutex_);
        table.swap(streams_);
        doomed.swap(mixing_);
        // Released, so that a call still holding one cannot play it again.
        for (auto& entry : table) entry.second->mark_released(lock);
        for (auto& stream : doomed) {
            stream->set_in_mix_list(lock, false);
            stream->mark_released(lock);
        }
    }
    // Destroyed here, outside the lock.
}

size_t Engine::stream_count() {
    TableLock lock(table_mutex_);
    return streams_.size();
}

size_t Engine::held_stream_count() {
    TableLock lock(table_mutex_);
    // A stream in the mix that is not released is in the table as well.
    auto released = [&lock](const std::shared_ptr<Stream>& stream) { return stream->released(lock); };
    return streams_.size() + size_t(std::count_if(mixing_.begin(), mixing_.end(), released));
}

void Engine::render(float* out, size_t frames) {
    while (frames > 0) {
        size_t n = std::min(frames, kMixBlock);
        try {
            render_block(out, n);
        } catch (...) {
            // The engine's own lists could not grow (a stream's failure stops
            // only that stream, in mix_streams): this block stays silent.
            std::fill(out, out + 2 * n, 0.0f);
            render_list_.clear();
            finished_.clear();
        }
        out += 2 * n;
        frames -= n;
    }
}

void Engine::render_block(float* out, size_t frames) {
    std::fill(out, out + 2 * frames, 0.0f);
    {
        TableLock lock(table_mutex_);
        render_list_.assign(mixing_.begin(), mixing_.end());
    }
    finished_.reserve(render_list_.size());  // mix_streams then never allocates
    mix_streams(out, frames);
    apply_master_volume(out, frames);
    if (!finished_.empty()) reap_finished();
    finished_.clear();
    render_list_.clear();
}

void Engine::mix_streams(float* out, size_t frames) {
    // Decoding happens here, with no engine lock held.
    finished_.clear();
    for (const auto& stream : render_list_) {
        std::fill(scratch_.begin(), scratch_.end(), 0.0f);
        bool sounding;
        try {
            sounding = stream->mix_into(out, scratch_.data(), frames);
        } catch (...) {
            // Memory ran short while decoding, say: that stream stops, the
            // others play on.
            drop_failed(stream);
            continue;
        }
        if (!sounding) finished_.push_back(stream);
    }
}

void Engine::drop_failed(const std::shared_ptr<Stream>& stream) {
    TableLock lock(table_mutex_);
    stream->mark_failed();
    auto it = std::find(mixing_.begin(), mixing_.end(), stream);
    if (it != mixing_.end()) mixing_.erase(it);
    stream->set_in_mix_list(lock, false);
    if (stream->auto_free() && !stream->released(lock)) release(lock, stream);
}

void Engine::apply_master_volume(float* out, size_t frames) {
    // Moved linearly across the block so that changes do not click.
    float target = volume_.load();
    float step = (target - applied_volume_) / float(frames);
    for (size_t i = 0; i < frames; ++i) {
        float gain = applied_volume_ + step * float(i + 1);
        out[2 * i] *= gain;
        out[2 * i + 1] *= gain;
    }
    applied_volume_ = target;
}

void Engine::reap_finished() {
    TableLock lock(table_mutex_);
    for (const auto& stream : finished_) {
        StreamState state = stream->state();
        // A call restarted it meanwhile: it stays in the mix.
        if (state == StreamState::playing && !stream->released(lock)) continue;
        auto it = std::find(mixing_.begin(), mixing_.end(), stream);
        if (it == mixing_.end()) continue;
        mixing_.erase(it);
        stream->set_in_mix_list(lock, false);
        bool ended_to_free = state == StreamState::ended && stream->auto_free();
        if (ended_to_free && !stream->released(lock)) release(lock, stream);
    }
}

}  // namespace audio
