// The device thread: COM, the backend's whole life, and the refill loop all
// live on it, so the caller's thread (a dialog with its own COM apartment)
// is never touched. When the output goes away (a failed write, or a device
// that stops asking for sound) the thread drops the backend, tells the
// source it is stalled, and walks the backend table again every half
// second until one of them plays.
#include "device_thread.h"

#include <objbase.h>

#include <future>
#include <new>
#include <thread>

namespace audio {
namespace {

// A device that asks for no sound for this long has gone away: Wine's
// waveOut, for one, just stops returning buffers when its sink is removed.
constexpr DWORD kRefillTimeoutMs = 500;
// How often a lost output is looked for again.
constexpr DWORD kReopenIntervalMs = 500;

// Which of two failures to report: a device number that does not exist says
// the most, a device that would not start next, a missing system the least.
Error more_specific(Error a, Error b) {
    auto rank = [](Error error) {
        switch (error) {
            case Error::no_device: return 3;
            case Error::start_failed: return 2;
            case Error::no_driver: return 1;
            default: return 0;
        }
    };
    return rank(b) > rank(a) ? b : a;
}

class DeviceThread final : public OutputDevice {
public:
    // Creates the two signals; the thread itself starts in open().
    DeviceThread() {
        quit_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        start_event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    }

    // Asks the thread to stop the device, and waits until it has released it.
    ~DeviceThread() override {
        if (quit_event_ != nullptr) SetEvent(quit_event_);
        if (thread_.joinable()) thread_.join();
        if (quit_event_ != nullptr) CloseHandle(quit_event_);
        if (start_event_ != nullptr) CloseHandle(start_event_);
    }

    DeviceThread(const DeviceThread&) = delete;
    DeviceThread& operator=(const DeviceThread&) = delete;

    // Starts the thread and waits for the backend's open to finish.
    Error open(BackendTable backends, int device, uint32_t rate) {
        if (quit_event_ == nullptr || start_event_ == nullptr) return Error::no_memory;
        std::future<Error> opened = open_result_.get_future();
        try {
            thread_ = std::thread(&DeviceThread::run, this, std::move(backends), device, rate);
        } catch (const std::exception&) {
            return Error::no_memory;
        }
        return opened.get();
    }

    // Hands the source to the thread, which starts the device (on silence:
    // the first refill renders the first sound); waits for that to succeed
    // or fail.
    Error start(RenderSource* source) override {
        if (started_) return Error::already_started;
        started_ = true;
        source_ = source;
        std::future<Error> result = start_result_.get_future();
        SetEvent(start_event_);
        return result.get();
    }

private:
    // The thread's body: open, wait for start, play until told to quit.
    void run(const BackendTable& backends, int device, uint32_t rate) {
        HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
        {
            std::unique_ptr<PlaybackBackend> backend;
            Error error = open_first(backends, device, rate, &backend);
            open_result_.set_value(error);
            if (error == Error::none && wait_for_start()) {
                error = start_backend(*backend);
                start_result_.set_value(error);
                if (error == Error::none) play_until_quit(std::move(backend), backends, device, rate);
            }
        }  // every backend is released by here, before COM goes away
        if (SUCCEEDED(com)) CoUninitialize();
    }

    // Opens the device through the first backend of the table that can;
    // the most telling of their errors when none can. A backend that finds
    // the device missing ends the walk: the others reach the same devices
    // and would only find it missing too, some of them after seconds
    // (waveOut under Wine, its sink removed).
    static Error open_first(const BackendTable& backends, int device, uint32_t rate,
                            std::unique_ptr<PlaybackBackend>* opened) {
        Error failure = Error::no_driver;
        for (BackendFactory make_backend : backends) {
            Error error = open_backend(make_backend, device, rate, opened);
            if (error == Error::none) return error;
            failure = more_specific(failure, error);
            if (error == Error::no_device) break;
        }
        return failure;
    }

    // Makes a backend and opens the device through it. Memory running short
    // is one more way for that to fail: on this thread, bad_alloc would end
    // the process.
    static Error open_backend(BackendFactory make_backend, int device, uint32_t rate,
                              std::unique_ptr<PlaybackBackend>* opened) {
        try {
            std::unique_ptr<PlaybackBackend> backend = make_backend();
            if (!backend) return Error::no_memory;
            Error error = backend->open(device, rate);
            if (error == Error::none) *opened = std::move(backend);
            return error;
        } catch (const std::bad_alloc&) {
            return Error::no_memory;
        }
    }

    // Starts an open backend, which plays silence until the first refill.
    static Error start_backend(PlaybackBackend& backend) {
        try {
            return backend.start();
        } catch (const std::bad_alloc&) {
            return Error::no_memory;
        }
    }

    // True when start() was called, false when the device is being destroyed first.
    bool wait_for_start() {
        HANDLE events[2] = {quit_event_, start_event_};
        return WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1;
    }

    // Feeds the backend; each time its output is lost, replaces it with a
    // fresh one once the output is back. Returns when told to quit.
    void play_until_quit(std::unique_ptr<PlaybackBackend> backend, const BackendTable& backends,
                         int device, uint32_t rate) {
        while (backend) {
            bool quit = refill_until_quit_or_lost(*backend);
            backend->stop();
            backend.reset();
            if (quit) return;
            set_stalled(true);
            backend = reopen_when_back(backends, device, rate);
        }
    }

    // Feeds the device whenever it asks. True when told to quit, false when
    // the device failed or stopped asking.
    bool refill_until_quit_or_lost(PlaybackBackend& backend) {
        HANDLE events[2] = {quit_event_, backend.refill_event()};
        for (;;) {
            DWORD woke = WaitForMultipleObjects(2, events, FALSE, kRefillTimeoutMs);
            if (woke == WAIT_OBJECT_0) return true;
            if (woke != WAIT_OBJECT_0 + 1) return false;
            // A device that asks for sound has taken the silence it started
            // with: the output is back, and renders from here on are heard.
            set_stalled(false);
            if (!backend.refill(source_)) return false;
        }
    }

    // Walks the backend table every kReopenIntervalMs, as the first open
    // did, on the same device number (device -1 follows the current
    // default). Returns the first backend that opens and starts; null when
    // told to quit first.
    std::unique_ptr<PlaybackBackend> reopen_when_back(const BackendTable& backends, int device,
                                                      uint32_t rate) {
        while (WaitForSingleObject(quit_event_, kReopenIntervalMs) == WAIT_TIMEOUT) {
            for (BackendFactory make_backend : backends) {
                std::unique_ptr<PlaybackBackend> backend;
                Error error = open_backend(make_backend, device, rate, &backend);
                if (error == Error::none && start_backend(*backend) == Error::none) return backend;
                if (error == Error::no_device) break;  // as in open_first
            }
        }
        return nullptr;
    }

    // Tells the source when the output goes away and when it is back.
    void set_stalled(bool stalled) {
        if (stalled == stalled_) return;
        stalled_ = stalled;
        source_->set_output_stalled(stalled);
    }

    std::thread thread_;
    HANDLE quit_event_ = nullptr;   // set once, by the destructor
    HANDLE start_event_ = nullptr;  // set once, by start()
    RenderSource* source_ = nullptr;
    bool started_ = false;
    bool stalled_ = false;  // as last told to source_
    std::promise<Error> open_result_;
    std::promise<Error> start_result_;
};

}  // namespace

// Declared in device_thread.h; the backend lives and dies on the new thread.
std::unique_ptr<OutputDevice> open_on_device_thread(BackendTable backends, int device, uint32_t rate,
                                                    Error* error) {
    std::unique_ptr<DeviceThread> output(new (std::nothrow) DeviceThread());
    if (!output) {
        *error = Error::no_memory;
        return nullptr;
    }
    *error = output->open(std::move(backends), device, rate);
    if (*error != Error::none) return nullptr;
    return output;
}

}  // namespace audio
