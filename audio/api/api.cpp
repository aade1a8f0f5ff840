// The public C calls: one global engine with its output device, and a
// per-thread last error. No exception leaves these functions. The core's
// errors, states and descriptions are translated here (public_codes.h).
#include <cstring>
#include <memory>
#include <mutex>
#include <new>

#include "bass.h"
#include "decode/format_limits.h"
#include "diagnostics.h"
#include "host_platform.h"
#include "mix/engine.h"
#include "mix/null_device.h"
#include "public_codes.h"
#include "read_stall.h"

using audio::Engine;
using audio::public_error_code;

namespace {

// Held through BASS_Init and BASS_Free, device opening and closing included,
// so that each happens whole and one at a time.
std::mutex g_lifecycle_mutex;
// Guards g_engine and g_device, and only ever briefly: every other call
// takes it, so it is never held while a device opens or closes.
std::mutex g_mutex;
std::shared_ptr<Engine> g_engine;              // null until BASS_Init
std::unique_ptr<audio::OutputDevice> g_device;  // pulls g_engine's render()
thread_local int g_last_error = BASS_OK;

// Records the outcome of a call for BASS_ErrorGetCode.
void set_error(int code) { g_last_error = code; }

// The engine of the current run, or null (BASS_ERROR_INIT set) before BASS_Init.
std::shared_ptr<Engine> current_engine() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!g_engine) set_error(BASS_ERROR_INIT);
    return g_engine;
}

// Runs a call body, turning any exception into an error code. The body
// returns a BASS_ERROR_* code (0 for success).
template <typename Body>
int guarded(Body body) {
    int error;
    try {
        error = body();
    } catch (const std::bad_alloc&) {
        error = BASS_ERROR_MEM;
    } catch (...) {
        error = BASS_ERROR_UNKNOWN;
    }
    set_error(error);
    return error;
}

// Runs a stream call on the current engine.
template <typename Call>
BOOL stream_call(Call call) {
    std::shared_ptr<Engine> engine = current_engine();
    if (!engine) return FALSE;
    return guarded([&] { return call(*engine); }) == 0 ? TRUE : FALSE;
}

// Runs a call on one stream. A stream that stopped on its own because its
// decoding failed says why: the call does its work and returns as usual,
// and its error code is that failure (BASS_ERROR_MEM), until it is played
// again.
template <typename Call>
BOOL channel_call(DWORD handle, Call call) {
    std::shared_ptr<Engine> engine = current_engine();
    if (!engine) return FALSE;
    BOOL ok = guarded([&] { return call(*engine); }) == 0 ? TRUE : FALSE;
    audio::Error failure = engine->failure(handle);
    if (failure != audio::Error::none) set_error(public_error_code(failure));
    return ok;
}

// Opens a stream's bytes: a file, or memory, or the part [offset, offset +
// length) of either (length 0: to the end of the file). Null with *error set.
std::unique_ptr<audio::ByteSource> open_content(BOOL mem, const void* file, DWORD offset, DWORD length,
                                                audio::Error* error) {
    std::unique_ptr<audio::ByteSource> whole =
        mem ? audio::make_memory_source(file, uint64_t(offset) + length)
            : audio::with_armed_read_stall(
                  audio::host_platform().open_file_source(static_cast<const char*>(file), error));
    if (!whole || (offset == 0 && length == 0)) return whole;
    std::unique_ptr<audio::ByteSource> section = audio::make_section_source(std::move(whole), offset, length);
    if (!section) *error = audio::Error::bad_file_format;  // the section starts past the end
    return section;
}

// Hands out readers of content opened once. Rewinding reads the file the
// stream opened, not its path: a renamed or deleted file still rewinds, and
// a different file now at that path is never played under this format.
audio::SourceOpener reader_of(std::shared_ptr<const audio::ByteSource> content) {
    return [content](audio::Error* error) {
        std::unique_ptr<audio::ByteSource> reader = content->duplicate();
        if (!reader) *error = audio::Error::no_memory;
        return reader;
    };
}

}  // namespace

BOOL BASSAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* clsid) {
    int error = guarded([&] {
        std::lock_guard<std::mutex> lifecycle(g_lifecycle_mutex);
        {
            std::lock_guard<std::mutex> lock(g_mutex);
            if (g_engine) return BASS_ERROR_ALREADY;
        }
        if (device < BASS_DEVICE_DEFAULT) return BASS_ERROR_DEVICE;
        if (!audio::format_supported(freq, 2)) return BASS_ERROR_FORMAT;
        const audio::Platform& platform = audio::host_platform();
        auto engine = std::make_shared<Engine>(freq, platform.open_block_converter);
        std::unique_ptr<audio::OutputDevice> output;
        audio::Error device_error = audio::Error::no_device;
        if (device == BASS_DEVICE_NOSOUND) {
            output = std::make_unique<audio::NullDevice>(freq);
        } else {
            output = platform.open_output_device(device, freq, &device_error);
            if (!output) return public_error_code(device_error);
        }
        if (audio::Error error = output->start(engine.get()); error != audio::Error::none)
            return public_error_code(error);
        std::lock_guard<std::mutex> lock(g_mutex);
        g_engine = std::move(engine);
        g_device = std::move(output);
        return 0;
    });
    return error == 0 ? TRUE : FALSE;
}

BOOL BASSAPI BASS_Free(void) {
    std::lock_guard<std::mutex> lifecycle(g_lifecycle_mutex);
    std::shared_ptr<Engine> engine;
    std::unique_ptr<audio::OutputDevice> device;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        engine = std::move(g_engine);
        device = std::move(g_device);
    }
    if (!engine) {
        set_error(BASS_ERROR_INIT);
        return FALSE;
    }
    device.reset();  // stops the device thread before the streams go
    engine->free_all();
    set_error(BASS_OK);
    return TRUE;
}

BOOL BASSAPI BASS_SetVolume(DWORD volume) {
    return stream_call([volume](Engine& engine) {
        if (volume > 100) return BASS_ERROR_ILLPARAM;
        engine.set_volume(volume);
        return 0;
    });
}

DWORD BASSAPI BASS_GetVolume(void) {
    std::shared_ptr<Engine> engine = current_engine();
    if (!engine) return DWORD(-1);
    set_error(BASS_OK);
    return engine->volume();
}

int BASSAPI BASS_ErrorGetCode(void) { return g_last_error; }

HSTREAM BASSAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length,
                                      DWORD flags) {
    std::shared_ptr<Engine> engine = current_engine();
    if (!engine) return 0;
    HSTREAM handle = 0;
    guarded([&] {
        if (file == nullptr) return BASS_ERROR_FILEOPEN;
        if (mem && length == 0) return BASS_ERROR_ILLPARAM;
        audio::Error error = audio::Error::bad_file_format;
        std::shared_ptr<const audio::ByteSource> content = open_content(mem, file, offset, length, &error);
        if (!content) return public_error_code(error);
        handle = engine->create_stream(reader_of(std::move(content)), audio::stream_options(flags), &error);
        return handle ? BASS_OK : public_error_code(error);
    });
    return handle;
}

BOOL BASSAPI BASS_StreamFree(HSTREAM handle) {
    return stream_call([handle](Engine& engine) { return public_error_code(engine.free_stream(handle)); });
}

BOOL BASSAPI BASS_ChannelPlay(DWORD handle, BOOL restart) {
    return stream_call([=](Engine& engine) { return public_error_code(engine.play(handle, restart != FALSE)); });
}

BOOL BASSAPI BASS_ChannelPause(DWORD handle) {
    return channel_call(handle, [handle](Engine& engine) { return public_error_code(engine.pause(handle)); });
}

BOOL BASSAPI BASS_ChannelStop(DWORD handle) {
    return channel_call(handle, [handle](Engine& engine) { return public_error_code(engine.stop(handle)); });
}

DWORD BASSAPI BASS_ChannelIsActive(DWORD handle) {
    audio::StreamState state = audio::StreamState::stopped;
    channel_call(handle, [&](Engine& engine) { return public_error_code(engine.state(handle, &state)); });
    return audio::public_state(state);
}

QWORD BASSAPI BASS_ChannelGetPosition(DWORD handle) {
    uint64_t frames = 0;
    BOOL ok =
        channel_call(handle, [&](Engine& engine) { return public_error_code(engine.position(handle, &frames)); });
    return ok ? frames : QWORD(-1);
}

BOOL BASSAPI BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info) {
    return channel_call(handle, [=](Engine& engine) {
        if (info == nullptr) return BASS_ERROR_ILLPARAM;
        audio::StreamInfo found;
        if (audio::Error error = engine.info(handle, &found); error != audio::Error::none)
            return public_error_code(error);
        *info = audio::public_info(found);
        return BASS_OK;
    });
}

DWORD BASSAPI BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length) {
    DWORD bytes = DWORD(-1);
    stream_call([&](Engine& engine) {
        audio::StreamInfo info;
        if (audio::Error error = engine.info(handle, &info); error != audio::Error::none)
            return public_error_code(error);
        if (length == 0) {
            bytes = 0;
            return 0;
        }
        size_t frame_bytes = sizeof(float) * info.channels;
        size_t frames = length / frame_bytes;
        if (buffer == nullptr || frames == 0) return BASS_ERROR_ILLPARAM;
        size_t got = 0;
        audio::Error error = engine.read_decoded(handle, static_cast<float*>(buffer), frames, &got);
        if (error != audio::Error::none) return public_error_code(error);
        if (got == 0) return BASS_ERROR_ENDED;
        bytes = DWORD(got * frame_bytes);
        return 0;
    });
    return bytes;
}

size_t audio::library_stream_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_engine ? g_engine->held_stream_count() : 0;
}

uint64_t audio::library_underrun_count() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_engine ? g_engine->underrun_count() : 0;
}
