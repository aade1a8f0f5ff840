// Output through waveOut, for systems where WASAPI is missing or refuses us.
// A few short buffers circulate: the system signals our event when it has
// played one (no callback code of ours runs inside waveOut), and the device
// thread refills it.
#include <windows.h>
#include <mmsystem.h>

#include <vector>

#include "float_to_int16.h"
#include "playback_backend.h"
#include "wave_format_ex.h"

namespace audio {
namespace {

// Buffers in circulation and the length of each: at most this much sound
// is queued when a pause or stop comes.
constexpr size_t kBufferCount = 4;
constexpr uint32_t kBufferMs = 10;

class WaveOutBackend final : public PlaybackBackend {
public:
    // Returns every buffer from the device, then releases what open() made.
    ~WaveOutBackend() override {
        if (wave_ != nullptr) {
            waveOutReset(wave_);
            for (Buffer& buffer : buffers_) {
                if (buffer.header.dwFlags & WHDR_PREPARED)
                    waveOutUnprepareHeader(wave_, &buffer.header, sizeof(WAVEHDR));
            }
            waveOutClose(wave_);
        }
        if (event_ != nullptr) CloseHandle(event_);
    }

    // Device 1 is waveOut id 0; -1 is the wave mapper (the default device).
    Error open(int device, uint32_t rate) override {
        UINT count = waveOutGetNumDevs();
        if (count == 0) return Error::no_driver;
        if (device != -1 && (device < 1 || static_cast<UINT>(device) > count)) return Error::no_device;
        UINT id = device == -1 ? WAVE_MAPPER : static_cast<UINT>(device - 1);

        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event_ == nullptr) return Error::no_memory;

        WAVEFORMATEX format = wave_format_ex(WAVE_FORMAT_PCM, rate, 2, 16);
        MMRESULT result = waveOutOpen(&wave_, id, &format, reinterpret_cast<DWORD_PTR>(event_), 0,
                                      CALLBACK_EVENT);
        if (result != MMSYSERR_NOERROR) {
            wave_ = nullptr;
            return result == MMSYSERR_BADDEVICEID ? Error::no_device : Error::start_failed;
        }
        return prepare_buffers(rate) ? Error::none : Error::start_failed;
    }

    // Writes every buffer, silent, while paused, then lets them all play:
    // the first sound goes into the first buffer the device hands back.
    Error start() override {
        waveOutPause(wave_);
        for (Buffer& buffer : buffers_) {
            if (!queue(buffer)) return Error::start_failed;
        }
        if (waveOutRestart(wave_) != MMSYSERR_NOERROR) return Error::start_failed;
        return Error::none;
    }

    // The system signals this event whenever a buffer is done (and on open).
    HANDLE refill_event() const override { return event_; }

    // Refills, in order, every buffer the device has finished playing.
    bool refill(RenderSource* source) override {
        while (buffers_[next_].header.dwFlags & WHDR_DONE) {
            if (!write_buffer(source, buffers_[next_])) return false;
            next_ = (next_ + 1) % buffers_.size();
        }
        return true;
    }

    // Silences the device at once and hands every buffer back.
    void stop() override {
        if (wave_ != nullptr) waveOutReset(wave_);
    }

private:
    struct Buffer {
        WAVEHDR header = {};
        std::vector<int16_t> samples;
    };

    // Allocates and prepares the circulating buffers.
    bool prepare_buffers(uint32_t rate) {
        size_t frames = rate * kBufferMs / 1000;
        scratch_.resize(frames * 2);
        buffers_.resize(kBufferCount);
        for (Buffer& buffer : buffers_) {
            buffer.samples.resize(frames * 2);
            buffer.header.lpData = reinterpret_cast<LPSTR>(buffer.samples.data());
            buffer.header.dwBufferLength = static_cast<DWORD>(frames * 4);
            if (waveOutPrepareHeader(wave_, &buffer.header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR)
                return false;
        }
        return true;
    }

    // Renders one buffer's worth of sound and queues it.
    bool write_buffer(RenderSource* source, Buffer& buffer) {
        size_t frames = buffer.samples.size() / 2;
        source->render(scratch_.data(), frames);
        float_to_int16(scratch_.data(), buffer.samples.data(), frames * 2);
        return queue(buffer);
    }

    // Hands a filled buffer to the device.
    bool queue(Buffer& buffer) {
        buffer.header.dwFlags &= ~WHDR_DONE;
        return waveOutWrite(wave_, &buffer.header, sizeof(WAVEHDR)) == MMSYSERR_NOERROR;
    }

    HWAVEOUT wave_ = nullptr;
    HANDLE event_ = nullptr;   // signalled by the system when a buffer is done
    std::vector<Buffer> buffers_;
    size_t next_ = 0;          // the buffer that finishes next
    std::vector<float> scratch_;
};

}  // namespace

// A waveOut backend, not yet open.
std::unique_ptr<PlaybackBackend> make_waveout_backend() {
    return std::unique_ptr<PlaybackBackend>(new (std::nothrow) WaveOutBackend());
}

}  // namespace audio
