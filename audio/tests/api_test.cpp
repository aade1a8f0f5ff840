// The public C calls: initialisation, the errors each call reports, file and
// memory streams, real-time playback on the null device with auto-free,
// decode channels, and rewinding from the file a stream opened.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <random>
#include <thread>

#include "bass.h"
#include "host_platform.h"
#include "mix/null_device.h"
#include "public_codes.h"
#include "test_signals.h"

using namespace audio_test;
namespace fs = std::filesystem;

namespace {

// Each test starts with the library initialised on the null device.
class Api : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        // One folder per test, since ctest may run tests side by side.
        dir_ = fs::temp_directory_path() /
               (std::string("audio_api_test_") + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override {
        BASS_Free();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // Writes bytes to a file of the test's folder and returns its path.
    std::string write_file(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = (dir_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        return path;
    }

    fs::path dir_;
};

std::vector<uint8_t> sine_wav(uint32_t rate, uint16_t channels, double seconds) {
    WavLayout layout;
    layout.rate = rate;
    layout.channels = channels;
    return make_wav(layout, sine(1000, rate, channels, size_t(rate * seconds), 0.5));
}

// Frames a decode channel delivers before its end.
size_t frames_decoded(HSTREAM h) {
    std::vector<float> block(4096);
    size_t frames = 0;
    DWORD bytes;
    while ((bytes = BASS_ChannelGetData(h, block.data(), DWORD(block.size() * 4))) != DWORD(-1)) frames += bytes / 4;
    return frames;
}

// The error a failed stream creation from a file reports.
int create_error(const std::string& path) {
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_AUTOFREE);
    return h ? 0 : BASS_ErrorGetCode();
}

}  // namespace

TEST(ApiInit, CallsBeforeInitAndInitErrors) {
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, "x.wav", 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_FALSE(BASS_SetVolume(50));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
    EXPECT_EQ(BASS_GetVolume(), DWORD(-1));
    EXPECT_FALSE(BASS_ChannelPlay(1, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);

    EXPECT_FALSE(BASS_Init(BASS_DEVICE_NOSOUND, 0, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
    EXPECT_FALSE(BASS_Init(BASS_DEVICE_NOSOUND, 100000000, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FORMAT);
    EXPECT_FALSE(BASS_Init(-2, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);

    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    EXPECT_FALSE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ALREADY);
    EXPECT_TRUE(BASS_Free());
    EXPECT_FALSE(BASS_Free());
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

namespace {

// A device that takes until the test lets it go to open, as real ones can.
std::promise<void> g_device_opening;
std::shared_future<void> g_device_may_open;

std::unique_ptr<audio::OutputDevice> open_slow_device(int, uint32_t rate, audio::Error*) {
    g_device_opening.set_value();
    g_device_may_open.wait();
    return std::make_unique<audio::NullDevice>(rate);
}

}  // namespace

TEST(ApiInit, NoCallWaitsForADeviceThatIsSlowToOpenButInitAndFreeHappenWhole) {
    audio::Platform slow = audio::host_platform();
    slow.open_output_device = open_slow_device;
    audio::replace_host_platform(&slow);
    std::promise<void> may_open;
    g_device_opening = std::promise<void>();
    g_device_may_open = may_open.get_future().share();
    auto init = std::async(std::launch::async, [] { return BASS_Init(1, 44100, 0, nullptr, nullptr); });
    g_device_opening.get_future().wait();

    // Meanwhile the library is not initialised, and says so at once.
    auto answers = std::async(std::launch::async, [] {
        return BASS_ChannelIsActive(1) == BASS_ACTIVE_STOPPED && BASS_ErrorGetCode() == BASS_ERROR_INIT &&
               BASS_GetVolume() == DWORD(-1) && !BASS_SetVolume(50) && BASS_ErrorGetCode() == BASS_ERROR_INIT;
    });
    bool answered = answers.wait_for(std::chrono::seconds(2)) == std::future_status::ready;
    // A second Init and a Free wait for the first Init, and then see it done.
    auto second = std::async(std::launch::async, [] {
        return !BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr) && BASS_ErrorGetCode() == BASS_ERROR_ALREADY;
    });
    auto freed = std::async(std::launch::async, [] { return BASS_Free(); });
    may_open.set_value();
    EXPECT_TRUE(answered) << "a call waited for the device to open";
    EXPECT_TRUE(answers.get());
    bool init_done = init.get();
    bool second_refused = second.get();
    bool free_done = freed.get();
    audio::replace_host_platform(nullptr);
    EXPECT_TRUE(init_done);
    EXPECT_TRUE(free_done);
    // The second Init came before the Free (refused), or after it (done).
    EXPECT_TRUE(second_refused || BASS_Free());
}

TEST(ApiInit, ErrorsAreKeptPerThread) {
    BASS_Free();  // fails: BASS_ERROR_INIT on this thread
    int other = -5;
    std::thread([&] { other = BASS_ErrorGetCode(); }).join();
    EXPECT_EQ(other, BASS_OK);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_INIT);
}

TEST_F(Api, VolumeIsAPercentage) {
    EXPECT_EQ(BASS_GetVolume(), 100u);
    EXPECT_TRUE(BASS_SetVolume(60));
    EXPECT_EQ(BASS_GetVolume(), 60u);
    EXPECT_TRUE(BASS_SetVolume(100));
    EXPECT_TRUE(BASS_SetVolume(0));
    EXPECT_EQ(BASS_GetVolume(), 0u);
    EXPECT_FALSE(BASS_SetVolume(101));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    EXPECT_EQ(BASS_GetVolume(), 0u);
}

TEST(ApiCodes, EveryStreamStateHasItsPublicNumber) {
    // Only the engine's tests can make a stream stall, so its number is checked here.
    using audio::StreamState;
    const std::pair<StreamState, DWORD> cases[] = {
        {StreamState::playing, BASS_ACTIVE_PLAYING}, {StreamState::stalled, BASS_ACTIVE_STALLED},
        {StreamState::paused, BASS_ACTIVE_PAUSED},   {StreamState::stopped, BASS_ACTIVE_STOPPED},
        {StreamState::ended, BASS_ACTIVE_STOPPED}};
    for (auto [state, number] : cases) EXPECT_EQ(audio::public_state(state), number) << int(state);
}

TEST_F(Api, FilesThatCannotBeOpenedOrDecoded) {
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, nullptr, 0, 0, BASS_STREAM_AUTOFREE), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(create_error((dir_ / "missing.wav").string()), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(create_error(""), BASS_ERROR_FILEOPEN);
    EXPECT_EQ(create_error(dir_.string()), BASS_ERROR_FILEOPEN);  // a directory
    EXPECT_EQ(create_error(write_file("empty.wav", {})), BASS_ERROR_FILEFORM);
    std::vector<uint8_t> noise(20000);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t((i * 2654435761u) >> 13);
    EXPECT_EQ(create_error(write_file("noise.mp3", noise)), BASS_ERROR_FILEFORM);
    std::vector<uint8_t> wav = sine_wav(44100, 1, 0.1);
    EXPECT_EQ(create_error(write_file("cut.wav", std::vector<uint8_t>(wav.begin(), wav.begin() + 30))),
              BASS_ERROR_FILEFORM);
}

TEST_F(Api, Mp3NeedsThePlatformsCodec) {
    std::string path = write_file("a.mp3", read_data_file("sine_1k_44100_stereo.mp3"));
#ifdef _WIN32
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, DWORD(BASS_CTYPE_MP3));
    EXPECT_EQ(info.freq, 44100u);
    EXPECT_EQ(info.chans, 2u);
#else
    // No MP3 codec here: a real MP3 is refused as a format.
    EXPECT_EQ(create_error(path), BASS_ERROR_FILEFORM);
#endif
}

TEST_F(Api, ContentDecidesTheFormatNotTheName) {
    HSTREAM h = BASS_StreamCreateFile(FALSE, write_file("tone.mp3", sine_wav(22050, 2, 0.1)).c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.freq, 22050u);
    EXPECT_EQ(info.chans, 2u);
    EXPECT_EQ(info.ctype, DWORD(BASS_CTYPE_WAV_PCM));
    h = BASS_StreamCreateFile(FALSE, write_file("tone.wav", read_data_file("sine_1k_22050_mono.ogg")).c_str(), 0, 0,
                              BASS_STREAM_AUTOFREE);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, DWORD(BASS_CTYPE_OGG));
    EXPECT_EQ(info.flags, DWORD(BASS_STREAM_AUTOFREE));
}

TEST_F(Api, SectionsOfFilesAndMemoryStreams) {
    std::vector<uint8_t> wav = sine_wav(44100, 1, 0.1);
    // The WAV between 1000 bytes before it and 500 after it.
    std::vector<uint8_t> padded(1000 + wav.size() + 500, 0xAB);
    std::copy(wav.begin(), wav.end(), padded.begin() + 1000);
    std::string path = write_file("padded.bin", padded);
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 1000, DWORD(wav.size()), BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    std::vector<float> out(8192);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), DWORD(out.size() * 4)), DWORD(4410 * 4));
    EXPECT_EQ(BASS_StreamCreateFile(FALSE, path.c_str(), DWORD(padded.size() + 1), 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
    // A length alone ends the file there: data "to the end" stops at it.
    std::vector<uint8_t> open_ended(padded.begin() + 1000, padded.end());
    std::fill(open_ended.begin() + 40, open_ended.begin() + 44, 0xFF);
    path = write_file("open.wav", open_ended);
    h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, DWORD(wav.size()), BASS_STREAM_DECODE);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), DWORD(out.size() * 4)), DWORD(4410 * 4));

    h = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), DWORD(out.size() * 4)), DWORD(4410 * 4));
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, wav.data(), 0, 0, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    const char garbage[16] = "not audio at al";
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, garbage, 0, 16, 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(Api, DecodeChannelsDeliverFloatsThenReportTheEnd) {
    std::vector<float> tone = sine(1000, 22050, 2, 3000, 0.5);
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 32;
    layout.rate = 22050;
    layout.channels = 2;
    std::vector<uint8_t> wav = make_wav(layout, tone);
    HSTREAM h = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(BASS_ChannelPlay(h, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DECODE);
    std::vector<float> out(4000);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), 0), 0u);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), 3), DWORD(-1));  // less than a frame
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ILLPARAM);
    std::vector<float> all;
    DWORD bytes;
    while ((bytes = BASS_ChannelGetData(h, out.data(), 4000 * 4)) != DWORD(-1)) {
        EXPECT_EQ(bytes % 8, 0u);
        all.insert(all.end(), out.begin(), out.begin() + bytes / 4);
    }
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    EXPECT_EQ(all, tone);
    EXPECT_EQ(BASS_ChannelGetPosition(h), 3000u);
    EXPECT_EQ(BASS_ChannelGetData(h, out.data(), 4000 * 4), DWORD(-1));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    // A stream at its end reads as stopped, with the public numbers.
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_STOPPED));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_OK);
    BASS_CHANNELINFO info;
    ASSERT_TRUE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(info.ctype, DWORD(BASS_CTYPE_WAV_FLOAT));
    EXPECT_EQ(info.flags, DWORD(BASS_STREAM_DECODE));
}

TEST_F(Api, AutoFreeDecodeChannelsGoWhenTheirDataEnds) {
    std::vector<uint8_t> wav = sine_wav(22050, 2, 0.05);
    HSTREAM h =
        BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), BASS_STREAM_DECODE | BASS_STREAM_AUTOFREE);
    ASSERT_NE(h, 0u);
    std::vector<float> out(2000);
    while (BASS_ChannelGetData(h, out.data(), DWORD(out.size() * 4)) != DWORD(-1)) {
    }
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_ENDED);
    BASS_CHANNELINFO info;
    EXPECT_FALSE(BASS_ChannelGetInfo(h, &info));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(Api, PlaysInRealTimeOnTheNullDeviceAndFreesItselfAtTheEnd) {
    std::string path = write_file("short.wav", sine_wav(48000, 2, 0.2));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_AUTOFREE);
    ASSERT_NE(h, 0u);
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_STOPPED));
    auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
    EXPECT_TRUE(BASS_ChannelPlay(h, FALSE));  // already playing: fine
    while (BASS_ChannelIsActive(h) == BASS_ACTIVE_PLAYING &&
           std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);  // released: the handle is gone
    EXPECT_GT(seconds, 0.15);  // real time, not as fast as possible
    EXPECT_LT(seconds, 3.0);  // generous: the machine may be busy
    EXPECT_FALSE(BASS_ChannelPlay(h, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelGetPosition(h), QWORD(-1));
}

TEST_F(Api, PositionAdvancesInRealTimeAtTheStreamsOwnRate) {
    // A 22.05 kHz file on a 44.1 kHz output: 22050 frames a second, neither
    // the output's count nor a pace half or twice as fast.
    std::string path = write_file("paced.wav", sine_wav(22050, 1, 3.0));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    using clock = std::chrono::steady_clock;
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    QWORD first = BASS_ChannelGetPosition(h);
    auto start = clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    QWORD last = BASS_ChannelGetPosition(h);
    double seconds = std::chrono::duration<double>(clock::now() - start).count();
    // A busy machine can only hold the null device back (it catches up at
    // most 100 ms), so the bound below is loose and the one above tight.
    double pace = double(last - first) / seconds;
    EXPECT_LT(pace, 22050.0 * 1.15);
    EXPECT_GT(pace, 22050.0 * 0.6);
}

TEST_F(Api, PauseHoldsThePositionOnTheNullDevice) {
    std::string path = write_file("long.wav", sine_wav(44100, 1, 2.0));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_AUTOFREE);
    ASSERT_NE(h, 0u);
    EXPECT_FALSE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_NOPLAY);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(BASS_ChannelPause(h));
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PAUSED));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // the fade-out is over
    QWORD held = BASS_ChannelGetPosition(h);
    EXPECT_GT(held, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(BASS_ChannelGetPosition(h), held);
    ASSERT_TRUE(BASS_ChannelPlay(h, FALSE));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_GT(BASS_ChannelGetPosition(h), held);
    // Stop releases an auto-free stream at once.
    EXPECT_TRUE(BASS_ChannelStop(h));
    EXPECT_FALSE(BASS_ChannelStop(h));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_STOPPED));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(Api, FreeReleasesEveryStreamAndHandlesStayDeadAfterReinit) {
    std::vector<uint8_t> wav = sine_wav(44100, 1, 1.0);
    HSTREAM playing = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), 0);
    HSTREAM idle = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), 0);
    ASSERT_TRUE(BASS_ChannelPlay(playing, FALSE));
    EXPECT_TRUE(BASS_StreamFree(idle));
    EXPECT_FALSE(BASS_StreamFree(idle));
    ASSERT_TRUE(BASS_Free());
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    EXPECT_FALSE(BASS_ChannelPlay(playing, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    HSTREAM fresh = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), 0);
    EXPECT_NE(fresh, playing);
    EXPECT_NE(fresh, idle);
}

TEST_F(Api, RealDevicesAreThePlatformsBusiness) {
    // Natively the platform has none; under Windows device 1 may exist, so
    // only the refusal of a device number that cannot exist is checked.
    BASS_Free();
    EXPECT_FALSE(BASS_Init(1000, 44100, 0, nullptr, nullptr));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_DEVICE);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
}

TEST_F(Api, MemoryStreamsPlayTheSectionThatOffsetAndLengthPick) {
    std::vector<uint8_t> wav = sine_wav(44100, 1, 0.1);
    std::vector<uint8_t> padded(1000 + wav.size() + 500, 0xAB);
    std::copy(wav.begin(), wav.end(), padded.begin() + 1000);
    HSTREAM h = BASS_StreamCreateFile(TRUE, padded.data(), 1000, DWORD(wav.size()), BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(frames_decoded(h), 4410u);
    // Length bounds the section: the data chunk's last 100 frames lie past it.
    h = BASS_StreamCreateFile(TRUE, padded.data(), 1000, DWORD(wav.size() - 200), BASS_STREAM_DECODE);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    EXPECT_EQ(frames_decoded(h), 4310u);
    // A section of bytes that are not the file's start is no WAV.
    EXPECT_EQ(BASS_StreamCreateFile(TRUE, padded.data(), 999, DWORD(wav.size()), 0), 0u);
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEFORM);
}

TEST_F(Api, RewindReadsTheOpenFileNotItsPath) {
    std::string path = write_file("tone.wav", sine_wav(44100, 1, 1.0));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    // Renamed, a short file of another format put at its path, then deleted.
    std::string moved = (dir_ / "moved.wav").string();
    ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);
    write_file("tone.wav", sine_wav(8000, 1, 0.05));
    ASSERT_EQ(std::remove(moved.c_str()), 0);

    ASSERT_TRUE(BASS_ChannelPlay(h, TRUE)) << BASS_ErrorGetCode();
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    // Still the one-second tone at 44.1 kHz, where the short file would have ended.
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
    QWORD position = BASS_ChannelGetPosition(h);
    EXPECT_GT(position, 44100u / 5);
    EXPECT_LT(position, 44100u);
    // Rewound again, mid-play: the same file, from its start.
    ASSERT_TRUE(BASS_ChannelPlay(h, TRUE)) << BASS_ErrorGetCode();
    EXPECT_LT(BASS_ChannelGetPosition(h), position);
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
}

TEST_F(Api, AStreamOfAFileThatIsGoneStillRewinds) {
    std::string path = write_file("gone.wav", sine_wav(22050, 1, 0.3));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_TRUE(BASS_ChannelPlay(h, TRUE)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
}

TEST_F(Api, AFileThatGrowsAfterOpeningPlaysAsItWasOpened) {
    // A second link written to the end of an Ogg file after the stream
    // opened it (a file still being written) is not read.
    std::vector<uint8_t> first = read_data_file("sine_1k_44100_stereo.ogg");
    std::vector<uint8_t> later = read_data_file("tone_noise_4s_44100_stereo.ogg");
    HSTREAM memory = BASS_StreamCreateFile(TRUE, first.data(), 0, DWORD(first.size()), BASS_STREAM_DECODE);
    std::string path = write_file("growing.ogg", first);
    HSTREAM file = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, BASS_STREAM_DECODE);
    ASSERT_NE(file, 0u) << BASS_ErrorGetCode();
    std::ofstream(path, std::ios::binary | std::ios::app).write(reinterpret_cast<const char*>(later.data()),
                                                                 long(later.size()));
    EXPECT_EQ(frames_decoded(file), frames_decoded(memory));
}

namespace {

// One of the calls that change a stream or the output, picked by `pick`.
void random_call(HSTREAM h, unsigned pick) {
    switch (pick % 6) {
    case 0: BASS_ChannelPlay(h, pick & 8 ? TRUE : FALSE); break;
    case 1: BASS_ChannelPause(h); break;
    case 2: BASS_ChannelStop(h); break;
    case 3: BASS_StreamFree(h); break;
    case 4: BASS_SetVolume(pick % 101); break;
    default: BASS_ChannelIsActive(h); BASS_ChannelGetPosition(h); break;
    }
}

}  // namespace

TEST(ApiRace, StreamCallsFreeAndInitRaceTheMixingThread) {
    // Three callers hammer the newest stream while the null device mixes it,
    // and the library is freed and initialised again under them.
    std::vector<uint8_t> wav = sine_wav(48000, 2, 0.05);
    ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
    std::atomic<HSTREAM> newest{0};
    std::atomic<bool> done{false};
    std::vector<std::thread> callers;
    for (unsigned seed = 1; seed <= 3; ++seed) {
        callers.emplace_back([&, seed] {
            std::minstd_rand random(seed);
            while (!done.load()) random_call(newest.load(), unsigned(random()));
        });
    }
    for (int i = 0; i < 200; ++i) {
        if (i % 50 == 49) {
            EXPECT_TRUE(BASS_Free());
            EXPECT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr));
        }
        DWORD flags = i % 2 ? BASS_STREAM_AUTOFREE : 0;
        HSTREAM h = BASS_StreamCreateFile(TRUE, wav.data(), 0, DWORD(wav.size()), flags);
        ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
        newest.store(h);
        BASS_ChannelPlay(h, FALSE);
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    done.store(true);
    for (std::thread& caller : callers) caller.join();
    HSTREAM last = newest.load();
    BASS_StreamFree(last);
    EXPECT_FALSE(BASS_ChannelPlay(last, FALSE));
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
    EXPECT_TRUE(BASS_Free());
}
