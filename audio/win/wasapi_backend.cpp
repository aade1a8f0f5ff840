// Output through WASAPI in shared mode, driven by the audio engine's event:
// the device thread wakes once per engine period and tops the buffer up to a
// small target, so little sound is queued when a pause or stop comes.
#include <windows.h>
#include <audioclient.h>
#include <mmdeviceapi.h>
#include <mmreg.h>
#include <wrl/client.h>

#include <algorithm>
#include <vector>

#include "float_to_int16.h"
#include "playback_backend.h"
#include "wave_format_ex.h"

using Microsoft::WRL::ComPtr;

namespace audio {
namespace {

// Buffer asked of the engine, in 100-ns units.
constexpr REFERENCE_TIME kBufferDuration = 300000;  // 30 ms
// The most sound kept queued, in milliseconds, whatever buffer the engine
// grants: this bounds how late a pause or stop is heard.
constexpr uint32_t kMaxQueuedMs = 30;

// The subformat GUIDs of WAVE_FORMAT_EXTENSIBLE for float and integer PCM.
const GUID kSubtypeFloat = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
const GUID kSubtypePcm = {0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Stereo at `rate` as 32-bit float or 16-bit integer samples.
WAVEFORMATEXTENSIBLE stereo_format(uint32_t rate, bool use_float) {
    WAVEFORMATEXTENSIBLE format = {};
    format.Format = wave_format_ex(WAVE_FORMAT_EXTENSIBLE, rate, 2, use_float ? 32 : 16);
    format.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    format.Samples.wValidBitsPerSample = format.Format.wBitsPerSample;
    format.dwChannelMask = SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    format.SubFormat = use_float ? kSubtypeFloat : kSubtypePcm;
    return format;
}

class WasapiBackend final : public PlaybackBackend {
public:
    // The COM objects release themselves (on this, the device thread); the
    // event is ours to close.
    ~WasapiBackend() override {
        if (event_ != nullptr) CloseHandle(event_);
    }

    // Finds the endpoint and initialises a shared-mode client for it.
    Error open(int device, uint32_t rate) override {
        ComPtr<IMMDeviceEnumerator> enumerator;
        if (FAILED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                    IID_PPV_ARGS(&enumerator))))
            return Error::no_driver;
        Error error = find_endpoint(enumerator.Get(), device);
        if (error != Error::none) return error;

        event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (event_ == nullptr) return Error::no_memory;
        error = initialise_client(rate);
        if (error != Error::none) return error;

        UINT32 buffer_frames = 0;
        if (FAILED(client_->SetEventHandle(event_)) || FAILED(client_->GetBufferSize(&buffer_frames)) ||
            FAILED(client_->GetService(IID_PPV_ARGS(&render_client_))))
            return Error::start_failed;
        target_frames_ = std::min<uint32_t>(buffer_frames, rate * kMaxQueuedMs / 1000);
        if (!use_float_) scratch_.resize(static_cast<size_t>(buffer_frames) * 2);
        return Error::none;
    }

    // Queues silence and starts: the first sound is rendered by the first
    // refill, once the engine has taken the device.
    Error start() override {
        BYTE* data = nullptr;
        if (FAILED(render_client_->GetBuffer(target_frames_, &data)) ||
            FAILED(render_client_->ReleaseBuffer(target_frames_, AUDCLNT_BUFFERFLAGS_SILENT)))
            return Error::start_failed;
        if (FAILED(client_->Start())) return Error::start_failed;
        started_ = true;
        return Error::none;
    }

    // The engine signals this event once per period.
    HANDLE refill_event() const override { return event_; }

    // Tops the queue up to the target; the engine has taken some since last time.
    bool refill(RenderSource* source) override {
        UINT32 padding = 0;
        if (FAILED(client_->GetCurrentPadding(&padding))) return false;
        if (padding >= target_frames_) return true;
        return write_frames(source, target_frames_ - padding);
    }

    // Halts the engine's stream; queued sound is dropped with the client.
    void stop() override {
        if (started_) client_->Stop();
        started_ = false;
    }

private:
    // Device 1 is the first active render endpoint in enumeration order,
    // -1 the system's default one.
    Error find_endpoint(IMMDeviceEnumerator* enumerator, int device) {
        if (device == -1) {
            HRESULT hr = enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device_);
            return SUCCEEDED(hr) ? Error::none : Error::no_driver;
        }
        ComPtr<IMMDeviceCollection> endpoints;
        UINT count = 0;
        if (FAILED(enumerator->EnumAudioEndpoints(eRender, DEVICE_STATE_ACTIVE, &endpoints)) ||
            FAILED(endpoints->GetCount(&count)))
            return Error::no_driver;
        if (device < 1 || static_cast<UINT>(device) > count) return Error::no_device;
        return SUCCEEDED(endpoints->Item(static_cast<UINT>(device - 1), &device_)) ? Error::none
                                                                                     : Error::no_device;
    }

    // Float stereo at our rate is what the mixer makes; 16-bit is the next
    // best; last, let the engine convert the rate itself. A failed Initialize
    // leaves a client unusable, so each try activates a fresh one. An
    // endpoint that has gone (unplugged, its sink removed) is no_device.
    Error initialise_client(uint32_t rate) {
        const DWORD event_flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_NOPERSIST;
        const DWORD convert_flags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
        struct Attempt {
            bool use_float;
            DWORD flags;
        };
        const Attempt attempts[] = {{true, event_flags}, {false, event_flags}, {true, event_flags | convert_flags}};
        for (const Attempt& attempt : attempts) {
            client_.Reset();
            if (FAILED(device_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                         reinterpret_cast<void**>(client_.GetAddressOf()))))
                return Error::start_failed;
            WAVEFORMATEXTENSIBLE format = stereo_format(rate, attempt.use_float);
            HRESULT hr = client_->Initialize(AUDCLNT_SHAREMODE_SHARED, attempt.flags, kBufferDuration, 0,
                                             &format.Format, nullptr);
            if (SUCCEEDED(hr)) {
                use_float_ = attempt.use_float;
                return Error::none;
            }
            if (hr == AUDCLNT_E_DEVICE_INVALIDATED || hr == AUDCLNT_E_ENDPOINT_CREATE_FAILED) {
                client_.Reset();
                return Error::no_device;  // no other format brings it back
            }
        }
        client_.Reset();
        return Error::start_failed;
    }

    // Renders `frames` frames from source into the engine's buffer.
    bool write_frames(RenderSource* source, uint32_t frames) {
        if (frames == 0) return true;
        BYTE* data = nullptr;
        if (FAILED(render_client_->GetBuffer(frames, &data))) return false;
        if (use_float_) {
            source->render(reinterpret_cast<float*>(data), frames);
        } else {
            source->render(scratch_.data(), frames);
            float_to_int16(scratch_.data(), reinterpret_cast<int16_t*>(data), static_cast<size_t>(frames) * 2);
        }
        return SUCCEEDED(render_client_->ReleaseBuffer(frames, 0));
    }

    ComPtr<IMMDevice> device_;
    ComPtr<IAudioClient> client_;
    ComPtr<IAudioRenderClient> render_client_;
    HANDLE event_ = nullptr;     // signalled by the engine once per period
    uint32_t target_frames_ = 0; // how full the buffer is kept
    bool use_float_ = true;
    bool started_ = false;
    std::vector<float> scratch_;  // float frames before 16-bit conversion
};

}  // namespace

// A WASAPI backend, not yet open.
std::unique_ptr<PlaybackBackend> make_wasapi_backend() {
    return std::unique_ptr<PlaybackBackend>(new (std::nothrow) WasapiBackend());
}

}  // namespace audio
