// Output devices in-process, on the real device of the test environment:
// device numbers, when rendering begins and ends, how far ahead of the
// clock the device pulls, and that the caller's thread is left alone.
// What reaches the speakers is checked by record_test.sh.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>

#include "device_thread.h"
#include "sine_source.h"
#include "win_platform.h"

namespace {

constexpr uint32_t kRate = 44100;

struct Backend {
    const char* name;
    audio::BackendFactory make;  // null: the library's own choice
};

std::unique_ptr<audio::OutputDevice> open_device(const Backend& backend, int device, audio::Error* error) {
    if (backend.make == nullptr) return audio::open_output_device(device, kRate, error);
    return audio::open_on_device_thread({backend.make}, device, kRate, error);
}

double milliseconds_since(LARGE_INTEGER start) {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return (now.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart;
}

class OutputDeviceTest : public testing::TestWithParam<Backend> {};

TEST_P(OutputDeviceTest, DeviceNumbersThatDoNotExistFailWithDevice) {
    for (int device : {99, -2, 0}) {
        audio::Error error = audio::Error::none;
        EXPECT_FALSE(open_device(GetParam(), device, &error)) << "device " << device;
        EXPECT_EQ(error, audio::Error::no_device) << "device " << device;
    }
}

TEST_P(OutputDeviceTest, NothingIsRenderedBeforeStart) {
    audio_test::SineSource sine(440, 0.5, kRate);
    audio::Error error = audio::Error::none;
    auto output = open_device(GetParam(), 1, &error);
    ASSERT_TRUE(output) << "error " << int(error);
    EXPECT_EQ(error, audio::Error::none);
    Sleep(150);
    EXPECT_EQ(sine.calls(), 0u);
    output.reset();  // destroying an open, never started device
    EXPECT_EQ(sine.calls(), 0u);
}

TEST_P(OutputDeviceTest, PullsInRealTimeWithLittleQueuedAndStopsPromptly) {
    audio_test::SineSource sine(440, 0.5, kRate);
    audio::Error error = audio::Error::none;
    for (int device : {1, -1}) {
        auto output = open_device(GetParam(), device, &error);
        ASSERT_TRUE(output) << "device " << device << " error " << int(error);

        LARGE_INTEGER started;
        QueryPerformanceCounter(&started);
        size_t before = sine.frames_rendered();
        error = output->start(&sine);
        ASSERT_EQ(error, audio::Error::none) << "error " << int(error);
        Sleep(600);
        // What was rendered beyond the time elapsed is what sits queued:
        // it bounds how late a pause is heard.
        double rendered_ms = (sine.frames_rendered() - before) * 1000.0 / kRate;
        double elapsed_ms = milliseconds_since(started);
        EXPECT_GT(rendered_ms, elapsed_ms - 100) << "the device fell behind";
        EXPECT_LT(rendered_ms, elapsed_ms + 45) << "too much sound queued ahead";
        EXPECT_NE(sine.render_thread(), GetCurrentThreadId());

        LARGE_INTEGER destroying;
        QueryPerformanceCounter(&destroying);
        output.reset();
        EXPECT_LT(milliseconds_since(destroying), 200.0);
        size_t after_destroy = sine.calls();
        Sleep(50);
        EXPECT_EQ(sine.calls(), after_destroy) << "rendering went on after destruction";
    }
}

TEST_P(OutputDeviceTest, SecondStartFails) {
    audio_test::SineSource sine(440, 0.5, kRate);
    audio::Error error = audio::Error::none;
    auto output = open_device(GetParam(), 1, &error);
    ASSERT_TRUE(output);
    ASSERT_EQ(output->start(&sine), audio::Error::none);
    EXPECT_EQ(output->start(&sine), audio::Error::already_started);
}

TEST_P(OutputDeviceTest, LeavesTheCallersComApartmentAlone) {
    // The app's dialog thread sets up COM its own way; had the device
    // initialised COM here, this single-threaded apartment would be refused.
    audio_test::SineSource sine(440, 0.5, kRate);
    audio::Error error = audio::Error::none;
    auto output = open_device(GetParam(), 1, &error);
    ASSERT_TRUE(output);
    ASSERT_EQ(output->start(&sine), audio::Error::none);
    Sleep(50);
    HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    EXPECT_EQ(hr, S_OK);
    if (SUCCEEDED(hr)) CoUninitialize();
}

INSTANTIATE_TEST_SUITE_P(Backends, OutputDeviceTest,
                         testing::Values(Backend{"wasapi", audio::make_wasapi_backend},
                                         Backend{"waveout", audio::make_waveout_backend},
                                         Backend{"chosen", nullptr}),
                         [](const testing::TestParamInfo<Backend>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
