// The device thread's recovery from a lost output, driven through a backend
// that fails on demand: a failed write, a device that stops asking for
// sound, reopens that fail (or run out of memory) until the output is back,
// and BASS_Free (the device's destruction) while it is gone. The real
// device's loss is checked by device_loss_test.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "device_thread.h"
#include "failing_allocations.h"
#include "test_signals.h"

namespace {

constexpr uint32_t kRate = 44100;
constexpr uint32_t kPeriodFrames = kRate / 100;

// Seconds on a monotonic clock.
double now_seconds() {
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / frequency.QuadPart;
}

// What the test asks of the fake backends, and what they saw.
struct FakeControl {
    std::atomic<int> opens_to_fail{0};       // the next this many opens fail
    std::atomic<int> starts_to_fail{0};      // the next this many starts fail
    std::atomic<int> opens_out_of_memory{0};   // the next this many opens run out of memory
    std::atomic<int> starts_out_of_memory{0};  // and starts
    std::atomic<bool> fail_next_refill{false};
    std::atomic<bool> stop_asking{false};    // the device stops signalling
    std::atomic<int> silent_opens{0};        // the next this many open and start, but never ask for sound
    std::atomic<int> broken_kind{-1};        // every open of this kind fails
    std::atomic<audio::Error> broken_with{audio::Error::start_failed};  // with this error
    std::atomic<int> opens_of_kind[2] = {};
    std::atomic<int> started_kind{-1};       // the kind that started last
    std::mutex mutex;
    std::vector<double> open_times;          // when each open was tried
} control;

// Asks for a period of sound every 10 ms through a periodic waitable timer.
// Its kind stands for a backend type of the table (WASAPI, waveOut).
class FakeBackend final : public audio::PlaybackBackend {
public:
    explicit FakeBackend(int kind) : kind_(kind) {}
    ~FakeBackend() override {
        if (timer_ != nullptr) CloseHandle(timer_);
    }
    audio::Error open(int, uint32_t) override {
        {
            std::lock_guard<std::mutex> lock(control.mutex);
            control.open_times.push_back(now_seconds());
        }
        ++control.opens_of_kind[kind_];
        if (control.broken_kind.load() == kind_) return control.broken_with.load();
        if (control.opens_to_fail.load() > 0) {
            --control.opens_to_fail;
            return audio::Error::start_failed;
        }
        allocate_unless(control.opens_out_of_memory);
        timer_ = CreateWaitableTimerW(nullptr, FALSE, nullptr);
        if (control.silent_opens.load() > 0) {
            --control.silent_opens;
            return timer_ != nullptr ? audio::Error::none : audio::Error::start_failed;  // never set
        }
        LARGE_INTEGER due;
        due.QuadPart = -100000;  // 10 ms from now
        return timer_ != nullptr && SetWaitableTimer(timer_, &due, 10, nullptr, nullptr, FALSE)
                   ? audio::Error::none
                   : audio::Error::start_failed;
    }
    audio::Error start() override {
        allocate_unless(control.starts_out_of_memory);
        if (control.starts_to_fail.load() > 0) {
            --control.starts_to_fail;
            return audio::Error::start_failed;
        }
        control.started_kind = kind_;
        return audio::Error::none;
    }
    HANDLE refill_event() const override { return timer_; }
    bool refill(audio::RenderSource* source) override {
        if (control.fail_next_refill.exchange(false)) return false;
        if (control.stop_asking.exchange(false)) {
            CancelWaitableTimer(timer_);
            return true;
        }
        source->render(buffer_.data(), kPeriodFrames);
        return true;
    }
    void stop() override {}

private:
    // Allocates, through an operator new that fails while `failures` lasts.
    static void allocate_unless(std::atomic<int>& failures) {
        if (failures.load() <= 0) return;
        --failures;
        audio_test::with_failing_allocations(1, [] { return std::vector<float>(kPeriodFrames); });
    }

    const int kind_;
    HANDLE timer_ = nullptr;
    std::vector<float> buffer_ = std::vector<float>(2 * kPeriodFrames);
};

template <int Kind>
std::unique_ptr<audio::PlaybackBackend> make_fake_backend() {
    return std::unique_ptr<audio::PlaybackBackend>(new FakeBackend(Kind));
}

// Counts renders, and any that came while the device said it was stalled.
class WatchingSource : public audio::RenderSource {
public:
    void render(float* out, size_t frames) override {
        std::fill(out, out + 2 * frames, 0.0f);
        ++renders;
        if (stalled.load()) ++renders_while_stalled;
    }
    void set_output_stalled(bool now_stalled) override {
        (now_stalled ? stalled_at : resumed_at).store(now_seconds());
        if (!now_stalled) {
            ++resumes;
            renders_at_resume.store(renders.load());
        }
        stalled.store(now_stalled);
    }
    std::atomic<int> renders{0};
    std::atomic<int> resumes{0};
    std::atomic<int> renders_at_resume{0};
    std::atomic<int> renders_while_stalled{0};
    std::atomic<bool> stalled{false};
    std::atomic<double> stalled_at{0};
    std::atomic<double> resumed_at{0};
};

// Waits up to `seconds` for the source's stalled flag to become `value`.
bool wait_for_stalled(const WatchingSource& source, bool value, double seconds) {
    double give_up = now_seconds() + seconds;
    while (source.stalled.load() != value) {
        if (now_seconds() > give_up) return false;
        Sleep(5);
    }
    return true;
}

class DeviceThreadRecovery : public testing::Test {
protected:
    void SetUp() override { play_on({make_fake_backend<0>}); }

    // A fake output of the table's backends, playing into source for 100 ms.
    void play_on(audio::BackendTable backends) {
        output.reset();
        control.opens_to_fail = 0;
        control.fail_next_refill = false;
        control.stop_asking = false;
        control.silent_opens = 0;
        control.broken_kind = -1;
        for (std::atomic<int>& opens : control.opens_of_kind) opens = 0;
        control.open_times.clear();
        audio::Error error = audio::Error::none;
        output = audio::open_on_device_thread(std::move(backends), -1, kRate, &error);
        ASSERT_TRUE(output) << "error " << int(error);
        error = output->start(&source);
        ASSERT_EQ(error, audio::Error::none) << "error " << int(error);
        Sleep(100);
        ASSERT_GT(source.renders.load(), 3);
    }
    // The open times from the first reopen on.
    std::vector<double> reopen_times() {
        std::lock_guard<std::mutex> lock(control.mutex);
        return std::vector<double>(control.open_times.begin() + 1, control.open_times.end());
    }

    WatchingSource source;
    std::unique_ptr<audio::OutputDevice> output;
};

TEST_F(DeviceThreadRecovery, AFailedWriteStallsUntilAReopenSucceedsTwiceASecond) {
    // However a reopen fails, nothing is rendered for it and the output
    // stays stalled until one works.
    struct Case {
        const char* how_reopens_fail;
        std::atomic<int> FakeControl::*failures;
    } cases[] = {
        {"the open fails", &FakeControl::opens_to_fail},
        {"the start fails", &FakeControl::starts_to_fail},
        {"memory runs short in the open", &FakeControl::opens_out_of_memory},
        {"memory runs short in the start", &FakeControl::starts_out_of_memory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.how_reopens_fail);
        {
            std::lock_guard<std::mutex> lock(control.mutex);
            control.open_times.resize(1);
        }
        source.resumes = 0;
        (control.*c.failures) = 3;
        double lost_at = now_seconds();
        control.fail_next_refill = true;
        ASSERT_TRUE(wait_for_stalled(source, true, 0.5));
        EXPECT_LT(source.stalled_at.load() - lost_at, 0.1) << "the failed write was noticed late";
        int renders_at_loss = source.renders.load();
        ASSERT_TRUE(wait_for_stalled(source, false, 4.0)) << "the output was never reopened";

        // Three failed tries and the one that worked, about half a second apart.
        std::vector<double> tries = reopen_times();
        ASSERT_EQ(tries.size(), 4u);
        EXPECT_NEAR(tries[0] - source.stalled_at.load(), 0.5, 0.15);
        for (size_t i = 1; i < tries.size(); ++i) EXPECT_NEAR(tries[i] - tries[i - 1], 0.5, 0.15) << "try " << i;
        EXPECT_EQ(source.resumes.load(), 1) << "the output was reported back before it played";
        EXPECT_EQ(source.renders_at_resume.load(), renders_at_loss) << "sound was rendered for a failed reopen";
        EXPECT_EQ(source.renders_while_stalled.load(), 0) << "sound was rendered for an absent output";

        int renders_at_resume = source.renders.load();
        Sleep(100);
        EXPECT_GT(source.renders.load(), renders_at_resume + 3) << "playback did not go on after the reopen";
    }
}

TEST_F(DeviceThreadRecovery, EachReopenWalksTheBackendTable) {
    // The first backend opened; after the loss it fails. Where it refuses
    // the device, the second backend plays; where it finds the device gone,
    // the second one would too, and is not asked.
    struct Case {
        audio::Error first_fails_with;
        bool second_plays;
    } cases[] = {{audio::Error::start_failed, true}, {audio::Error::no_device, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.first_fails_with));
        ASSERT_NO_FATAL_FAILURE(play_on({make_fake_backend<0>, make_fake_backend<1>}));
        ASSERT_EQ(control.started_kind.load(), 0);
        control.broken_kind = 0;
        control.broken_with = c.first_fails_with;
        control.fail_next_refill = true;
        ASSERT_TRUE(wait_for_stalled(source, true, 0.5));
        EXPECT_EQ(wait_for_stalled(source, false, 1.5), c.second_plays);
        if (c.second_plays) {
            EXPECT_NEAR(source.resumed_at.load() - source.stalled_at.load(), 0.5, 0.15);
            EXPECT_EQ(control.started_kind.load(), 1);
        } else {
            EXPECT_GE(control.opens_of_kind[0].load(), 3);
            EXPECT_EQ(control.opens_of_kind[1].load(), 0);
        }
    }
}

TEST_F(DeviceThreadRecovery, OnlySoundFlowingEndsTheStall) {
    // The first reopen starts but its device never asks for sound: the
    // output stays stalled, is given up as lost, and the next reopen plays.
    control.silent_opens = 1;
    source.resumes = 0;
    control.fail_next_refill = true;
    ASSERT_TRUE(wait_for_stalled(source, true, 0.5));
    Sleep(2500);
    EXPECT_FALSE(source.stalled.load());
    EXPECT_EQ(source.resumes.load(), 1) << "reported back by a device that asked for no sound";
    EXPECT_EQ(reopen_times().size(), 2u);
}

TEST_F(DeviceThreadRecovery, AMissingDeviceEndsTheFirstOpenAsItEndsAReopen) {
    output.reset();
    control.broken_kind = 0;
    control.broken_with = audio::Error::no_device;
    control.opens_of_kind[1] = 0;
    audio::Error error = audio::Error::none;
    EXPECT_FALSE(audio::open_on_device_thread({make_fake_backend<0>, make_fake_backend<1>}, -1, kRate, &error));
    EXPECT_EQ(error, audio::Error::no_device);
    EXPECT_EQ(control.opens_of_kind[1].load(), 0);
}

TEST_F(DeviceThreadRecovery, ADeviceThatStopsAskingForSoundIsTreatedAsLost) {
    double silent_from = now_seconds();
    control.stop_asking = true;
    ASSERT_TRUE(wait_for_stalled(source, true, 1.5));
    EXPECT_NEAR(source.stalled_at.load() - silent_from, 0.5, 0.15);
    ASSERT_TRUE(wait_for_stalled(source, false, 1.5));
    EXPECT_EQ(reopen_times().size(), 1u);
    int renders_at_resume = source.renders.load();
    Sleep(100);
    EXPECT_GT(source.renders.load(), renders_at_resume + 3);
}

TEST_F(DeviceThreadRecovery, WhileLostItNeitherSpinsNorDelaysDestruction) {
    control.opens_to_fail = 1000;
    control.fail_next_refill = true;
    ASSERT_TRUE(wait_for_stalled(source, true, 0.5));
    double cpu_before = audio_test::process_cpu_seconds();
    Sleep(1500);
    double cpu_used = audio_test::process_cpu_seconds() - cpu_before;
    EXPECT_LT(cpu_used, 0.15) << "the lost device used " << cpu_used << " s of CPU in 1.5 s";
    EXPECT_LE(reopen_times().size(), 4u) << "reopened more often than twice a second";
    EXPECT_EQ(source.renders_while_stalled.load(), 0);

    double destroying = now_seconds();
    output.reset();
    EXPECT_LT(now_seconds() - destroying, 0.1) << "destroying a lost device was slow";
}

}  // namespace
