// What a stream reads: the part of memory that offset and length pick;
// when rewound, the file it opened rather than whatever its path names now;
// and only as much as it has played, never the whole file at once.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "bass.h"
#include "mix/engine.h"
#include "test_signals.h"

using namespace audio_test;
namespace fs = std::filesystem;

namespace {

// A 1 kHz mono sine of `seconds` at `rate` as a WAV file's bytes.
std::vector<uint8_t> tone_wav(uint32_t rate, double seconds) {
    WavLayout layout;
    layout.rate = rate;
    return make_wav(layout, sine(1000, rate, 1, size_t(rate * seconds), 0.5));
}

// The library on the null device, and a folder of the test's own.
class StreamContent : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)) << BASS_ErrorGetCode();
        folder_ = fs::temp_directory_path() /
                  (std::string("stream_content_") + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override {
        BASS_Free();  // closes the files, so that the folder can go
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }

    std::string put(const std::string& name, const std::vector<uint8_t>& bytes) {
        std::string path = (folder_ / name).string();
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), long(bytes.size()));
        return path;
    }

    fs::path folder_;
};

// Frames a decode channel delivers before its end.
size_t frames_decoded(HSTREAM h) {
    std::vector<float> block(4096);
    size_t frames = 0;
    DWORD bytes;
    while ((bytes = BASS_ChannelGetData(h, block.data(), DWORD(block.size() * 4))) != DWORD(-1)) frames += bytes / 4;
    return frames;
}

// Bytes in memory that count what their readers take.
class CountingSource : public audio::ByteSource {
public:
    CountingSource(const std::vector<uint8_t>& bytes, size_t* count)
        : inner_(audio::make_memory_source(bytes.data(), bytes.size())), count_(count) {}
    size_t read(void* dst, size_t n) override {
        size_t got = inner_->read(dst, n);
        *count_ += got;
        return got;
    }
    bool seek(uint64_t pos) override { return inner_->seek(pos); }
    uint64_t tell() const override { return inner_->tell(); }
    uint64_t size() const override { return inner_->size(); }

private:
    std::unique_ptr<audio::ByteSource> inner_;
    size_t* count_;
};

}  // namespace

TEST(StreamReading, CreationReadsTheHeadersAndPlayingReadsAsItGoes) {
    std::vector<uint8_t> wav = tone_wav(44100, 60.0);  // 5 MB
    size_t bytes_read = 0;
    audio::Engine engine(44100);
    audio::Error error = audio::Error::none;
    uint32_t h = engine.create_stream(
        [&](audio::Error*) { return std::make_unique<CountingSource>(wav, &bytes_read); }, {}, &error);
    ASSERT_NE(h, 0u) << int(error);
    EXPECT_LT(bytes_read, 64u * 1024);
    engine.play(h, false);
    std::vector<float> out(2 * 44100);
    engine.render(out.data(), 44100);  // one second: 88 kB of samples
    EXPECT_GT(bytes_read, 88200u);
    EXPECT_LT(bytes_read, 88200u + 128 * 1024);
}

TEST_F(StreamContent, MemoryStreamsPlayTheSectionThatOffsetAndLengthPick) {
    std::vector<uint8_t> wav = tone_wav(44100, 0.1);
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

TEST_F(StreamContent, RewindReadsTheOpenFileNotItsPath) {
    std::string path = put("tone.wav", tone_wav(44100, 1.0));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    // Renamed, a short file of another format put at its path, then deleted.
    std::string moved = (folder_ / "moved.wav").string();
    ASSERT_EQ(std::rename(path.c_str(), moved.c_str()), 0);
    put("tone.wav", tone_wav(8000, 0.05));
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

TEST_F(StreamContent, AStreamOfAFileThatIsGoneStillRewinds) {
    std::string path = put("gone.wav", tone_wav(22050, 0.3));
    HSTREAM h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);
    ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
    ASSERT_EQ(std::remove(path.c_str()), 0);
    EXPECT_TRUE(BASS_ChannelPlay(h, TRUE)) << BASS_ErrorGetCode();
    EXPECT_EQ(BASS_ChannelIsActive(h), DWORD(BASS_ACTIVE_PLAYING));
}
