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
    auto it = streams_.find(handle);
    return it == streams_.end() ? nullptr : it->second;
}

void Engine::add_to_mix(const std::shared_ptr<Stream>& stream) {
    TableLock lock(table_mutex_);
    if (stream->in_mix_list(lock)) return;
    stream->set_in_mix_list(lock, true);
    mixing_.push_back(stream);
}

void Engine::release(uint32_t handle, const std::shared_ptr<Stream>& stream) {
    TableLock lock(table_mutex_);
    streams_.erase(handle);
    stream->mark_released(lock);
}

Error Engine::free_stream(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    stream->set_state(StreamState::stopped);
    release(handle, stream);
    return Error::none;
}

Error Engine::play(uint32_t handle, bool restart) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    if (stream->is_decode_channel()) return Error::decode_channel;
    StreamState state = stream->state();
    if (state == StreamState::playing && !restart) return Error::none;
    // An ended stream starts again from its beginning.
    if (restart || state == StreamState::ended) {
        if (Error error = stream->rewind(); error != Error::none) return error;
    }
    stream->set_state(StreamState::playing);
    add_to_mix(stream);
    return Error::none;
}

Error Engine::pause(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    if (stream->state() != StreamState::playing) return Error::not_playing;
    stream->set_state(StreamState::paused);
    return Error::none;
}

Error Engine::stop(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    // A stream at its end stays there, so that the next play starts it over.
    bool at_end = stream->state() == StreamState::ended || stream->is_decode_channel();
    stream->set_state(at_end ? StreamState::ended : StreamState::stopped);
    if (stream->auto_free()) release(handle, stream);
    return Error::none;
}

Error Engine::state(uint32_t handle, StreamState* state) {
    std::shared_ptr<Stream> stream = find(handle);
    *state = StreamState::stopped;
    if (!stream) return Error::bad_handle;
    *state = stream->state();
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
    if (*got == 0) stream->set_state(StreamState::ended);
    return Error::none;
}

void Engine::free_all() {
    std::vector<std::shared_ptr<Stream>> doomed;
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> table;
    {
        TableLock lock(table_mutex_);
        table.swap(streams_);
        doomed.swap(mixing_);
        for (auto& stream : doomed) stream->set_in_mix_list(lock, false);
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
        render_block(out, n);
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
        if (!stream->mix_into(out, scratch_.data(), frames)) finished_.push_back(stream);
    }
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
        if (state == StreamState::ended && stream->auto_free() && !stream->released(lock)) {
            stream->mark_released(lock);
            streams_.erase(stream->handle());
        }
    }
}

}  // namespace audio
