// Stream handles, state changes, the feeding pass and the mixer.
#include "mix/engine.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>

#include "decode/probe.h"

namespace audio {
namespace {

// What Play decodes on the calling thread before the stream joins the mix,
// so that its first sound never waits for a feeder thread: 100 ms.
constexpr size_t kStartFramesPerSecond = 10;
// An output that has not rendered for this long is not playing anything
// out: far longer than any device's period.
constexpr std::chrono::milliseconds kOutputSilentAfter{250};

// Now on the steady clock, in nanoseconds.
int64_t steady_now_ns() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
}

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

Engine::Engine(uint32_t out_rate, ConverterFactory converters, size_t feeder_threads)
    : out_rate_(out_rate),
      converters_(converters ? std::move(converters) : ConverterFactory(no_converters)),
      mix_list_(std::make_shared<const MixList>()),
      feeder_(std::make_unique<Feeder>(feeder_threads, [this] { feed_streams(false); })) {}

Engine::~Engine() {
    feeder_.reset();  // no pass runs while the streams go
    free_all();
}

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

std::shared_ptr<Stream> Engine::find(const TableLock& lock, uint32_t handle) {
    auto it = streams_.find(handle);
    if (it == streams_.end()) return nullptr;
    std::shared_ptr<Stream> stream = it->second;
    // An auto-free stream that has played to its end is gone from the
    // moment the mixer ended it, not only from the feeder's next pass.
    bool ended_to_free = stream->auto_free() && stream->state() == StreamState::ended;
    if (ended_to_free && !stream->is_decode_channel()) {
        release(lock, stream);
        return nullptr;
    }
    return stream;
}

Error Engine::start_playing(const std::shared_ptr<Stream>& stream) {
    TableLock lock(table_mutex_);
    // Released since the caller found it: the handle is gone.
    if (stream->released(lock)) return Error::bad_handle;
    std::shared_ptr<const MixList> old;  // let go after the lock
    if (!stream->in_mix_list(lock)) {
        try {
            auto list = std::make_shared<MixList>(*mix_list_);
            list->push_back(stream);
            old = publish(lock, std::move(list));
        } catch (const std::bad_alloc&) {
            return Error::no_memory;
        }
        stream->set_in_mix_list(lock, true);
    }
    stream->set_state(StreamState::playing);
    return Error::none;
}

std::shared_ptr<const Engine::MixList> Engine::publish(const TableLock&, std::shared_ptr<const MixList> list) {
    std::lock_guard<std::mutex> mix_lock(mix_mutex_);
    mix_list_.swap(list);
    return list;
}

void Engine::release(const TableLock& lock, const std::shared_ptr<Stream>& stream) {
    streams_.erase(stream->handle());
    stream->mark_released(lock);
}

bool Engine::output_heard() const {
    int64_t last = last_render_ns_.load();
    if (last == 0 || output_stalled_.load()) return false;
    return steady_now_ns() - last < std::chrono::nanoseconds(kOutputSilentAfter).count();
}

std::shared_ptr<const Engine::MixList> Engine::drop_unheard(const TableLock& lock) {
    if (output_heard()) return nullptr;
    try {
        return reap_quiet(lock);
    } catch (const std::bad_alloc&) {
        return nullptr;  // the feeder's next pass drops them
    }
}

Error Engine::free_stream(uint32_t handle) {
    // These outlive the lock: streams are destroyed unlocked.
    std::shared_ptr<Stream> stream;
    std::shared_ptr<const MixList> dropped;
    TableLock lock(table_mutex_);
    stream = find(lock, handle);
    if (!stream) return Error::bad_handle;
    stream->set_state(StreamState::stopped);
    release(lock, stream);
    dropped = drop_unheard(lock);
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
        if (Error error = stream->rewind(mix_mutex_); error != Error::none) return error;
    }
    // Its first sound is ready before the mixer needs it, unless a feeder
    // thread is filling the queue right now.
    fill(stream, out_rate_ / kStartFramesPerSecond, false);
    if (stream->failed()) return stream->failure();  // it stays stopped
    Error error = start_playing(stream);
    feeder_->wake();
    return error;
}

Error Engine::pause(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    if (!stream) return Error::bad_handle;
    return stream->pause() ? Error::none : Error::not_playing;
}

Error Engine::stop(uint32_t handle) {
    std::shared_ptr<Stream> stream;  // these outlive the lock
    std::shared_ptr<const MixList> dropped;
    TableLock lock(table_mutex_);
    stream = find(lock, handle);
    if (!stream) return Error::bad_handle;
    stream->stop();
    if (stream->auto_free()) {
        release(lock, stream);
        dropped = drop_unheard(lock);
    }
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

Error Engine::failure(uint32_t handle) {
    std::shared_ptr<Stream> stream = find(handle);
    return stream ? stream->failure() : Error::none;
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
    std::shared_ptr<const MixList> doomed = std::make_shared<const MixList>();
    std::unordered_map<uint32_t, std::shared_ptr<Stream>> table;
    {
        TableLock lock(table_mutex_);
        table.swap(streams_);
        doomed = publish(lock, std::move(doomed));
        // Released, so that a call still holding one cannot play it again.
        for (auto& entry : table) entry.second->mark_released(lock);
        for (auto& stream : *doomed) {
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
    return streams_.size() + size_t(std::count_if(mix_list_->begin(), mix_list_->end(), released));
}

void Engine::render(float* out, size_t frames) {
    last_render_ns_.store(steady_now_ns());
    std::fill(out, out + 2 * frames, 0.0f);
    {
        std::lock_guard<std::mutex> lock(mix_mutex_);
        for (const auto& stream : *mix_list_) {
            if (stream->mix_into(out, frames)) underruns_.fetch_add(1);
        }
    }
    apply_master_volume(out, frames);
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

void Engine::feed() { feed_streams(true); }

void Engine::feed_streams(bool wait) {
    std::shared_ptr<const MixList> reaped, list;  // let go after the lock
    {
        TableLock lock(table_mutex_);
        reaped = reap_quiet(lock);
        list = mix_list_;
    }
    for (const auto& stream : *list) {
        if (stream->state() == StreamState::playing) fill(stream, SIZE_MAX, wait);
    }
}

std::shared_ptr<const Engine::MixList> Engine::reap_quiet(const TableLock& lock) {
    bool heard = output_heard();
    auto leaves = [&lock, heard](const std::shared_ptr<Stream>& stream) {
        // A fade that nobody hears need not be waited for.
        if (!heard && stream->released(lock)) return true;
        // Played again meanwhile: it stays in the mix.
        return stream->went_quiet() && (stream->state() != StreamState::playing || stream->released(lock));
    };
    if (std::none_of(mix_list_->begin(), mix_list_->end(), leaves)) return nullptr;
    auto kept = std::make_shared<MixList>();
    for (const auto& stream : *mix_list_) {
        if (!leaves(stream)) {
            kept->push_back(stream);
            continue;
        }
        stream->set_in_mix_list(lock, false);
        bool ended_to_free = stream->state() == StreamState::ended && stream->auto_free();
        if (ended_to_free && !stream->released(lock)) release(lock, stream);
    }
    return publish(lock, std::move(kept));
}

void Engine::fill(const std::shared_ptr<Stream>& stream, size_t wanted, bool wait) {
    Error failure = Error::none;
    try {
        stream->fill(wanted, wait);
        return;
    } catch (const std::bad_alloc&) {
        failure = Error::no_memory;
    } catch (...) {
        failure = Error::unknown;
    }
    // That stream stops, the others play on; the mixer lets it go once it
    // has faded out.
    TableLock lock(table_mutex_);
    stream->mark_failed(failure);
    if (stream->auto_free() && !stream->released(lock)) release(lock, stream);
}

}  // namespace audio
