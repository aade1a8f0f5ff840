// The helpers every audio test and test program shares, native and Windows:
// WAV files built in memory and read back, sine signals, measurements of
// level, pitch and spectral purity, sources and decoders over bytes, test
// data files, and the process's CPU time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "io/byte_source.h"
#include "decode/decoder.h"
#include "mix/engine.h"

namespace audio_test {

// A sine of `frames` frames, the same on every channel, interleaved.
std::vector<float> sine(double freq, uint32_t rate, uint32_t channels, size_t frames, double amplitude);

struct WavLayout {
    uint16_t tag = 1;  // 1 PCM, 3 float, 0xFFFE extensible, others compressed
    uint16_t subformat = 1;  // extensible only
    uint32_t rate = 44100;
    uint16_t channels = 1;
    uint16_t bits = 16;
    uint16_t block_align = 0;  // 0: computed from channels and bits
};

// The layout of 32-bit float samples.
WavLayout float_layout(uint32_t rate = 44100, uint16_t channels = 1);

// Encodes interleaved samples (-1..1) as the sample data of a WAV format.
std::vector<uint8_t> encode_samples(const WavLayout& layout, const std::vector<float>& samples);
// The fmt chunk body for a layout.
std::vector<uint8_t> fmt_body(const WavLayout& layout);

// Builds RIFF/WAVE files chunk by chunk, with correct or deliberately wrong sizes.
class WavBuilder {
public:
    WavBuilder& chunk(const char id[4], const std::vector<uint8_t>& body);
    // A chunk whose header claims `declared_size` whatever the body holds.
    WavBuilder& chunk_with_size(const char id[4], uint32_t declared_size, const std::vector<uint8_t>& body);
    std::vector<uint8_t> build() const;

private:
    std::vector<uint8_t> chunks_;
};

// A complete, well-formed WAV of the samples.
std::vector<uint8_t> make_wav(const WavLayout& layout, const std::vector<float>& samples);
// A 16-bit WAV of a 1 kHz half-scale sine.
std::vector<uint8_t> sine_wav(uint32_t rate, uint16_t channels, double seconds);
// A WAV holding a constant value (mono 16-bit at 44.1 kHz unless the layout
// says otherwise), to watch gains directly.
std::vector<uint8_t> dc_wav(double seconds, float value, const WavLayout& layout = WavLayout{});

// The fmt and data chunks of a RIFF WAVE file as another program wrote it,
// each cut where the file ends.
struct WavChunks {
    std::vector<uint8_t> format;
    std::vector<uint8_t> data;
};
WavChunks wav_chunks(const std::vector<uint8_t>& file);

// Reads a decoder to its end (at most max_frames frames).
std::vector<float> decode_all(audio::Decoder& decoder, size_t max_frames = 1 << 24);

// One channel of interleaved samples.
std::vector<float> channel(const std::vector<float>& interleaved, uint32_t channels, uint32_t index);
// One channel of interleaved 16-bit samples, as fractions of full scale.
std::vector<float> channel(const std::vector<int16_t>& interleaved, uint32_t channels, uint32_t index);
// Root mean square of samples [begin, end).
double rms(const std::vector<float>& samples, size_t begin = 0, size_t end = SIZE_MAX);
// Frequency estimated from rising zero crossings over samples [begin, end).
double zero_crossing_frequency(const std::vector<float>& samples, uint32_t rate, size_t begin = 0,
                               size_t end = SIZE_MAX);
// How far samples [begin, end) stray from a pure sine of `hz`: the largest
// |x[n-1] + x[n+1] - 2 cos(w) x[n]|. A continuous sine leaves only coding
// noise; a gap, a repeated or a lost piece shows as a jump of the order of
// the amplitude.
double max_sine_residual(const std::vector<float>& samples, uint32_t rate, double hz, size_t begin = 0,
                         size_t end = SIZE_MAX);
// The peak amplitude of the component at `hz` (Hann-windowed single-bin DFT):
// robust to noise and to other tones a few bins away.
double tone_amplitude(const std::vector<float>& samples, uint32_t rate, double hz);
// The strongest spectral component other than the tone at `tone_hz`, in dB
// relative to the tone (Blackman-Harris windowed FFT of 2^k samples).
double worst_spur_db(const std::vector<float>& samples, uint32_t rate, double tone_hz);

// Renders `frames` frames as a device would, in 10 ms blocks, but faster
// than real time: the queues are topped up (Engine::feed) before each block
// and once after the last, so that what comes out never depends on the
// feeder threads' timing.
void render_fed(audio::Engine& engine, float* out, size_t frames);

// Reopenable in-memory content for Engine::create_stream.
std::function<std::unique_ptr<audio::ByteSource>(audio::Error*)> memory_opener(std::vector<uint8_t> bytes);

// A source that passes every call on to another: tests derive from it to
// watch or change what is read.
class ForwardingSource : public audio::ByteSource {
public:
    explicit ForwardingSource(std::unique_ptr<audio::ByteSource> inner) : inner_(std::move(inner)) {}
    size_t read(void* dst, size_t n) override { return inner_->read(dst, n); }
    bool seek(uint64_t pos) override { return inner_->seek(pos); }
    uint64_t tell() const override { return inner_->tell(); }
    uint64_t size() const override { return inner_->size(); }

protected:
    std::unique_ptr<audio::ByteSource> inner_;
};

// A converter factory with no codecs at all: it refuses every format.
std::unique_ptr<audio::BlockConverter> no_codecs(const std::vector<uint8_t>& wave_format, audio::Error* error);

// A decoder over bytes in memory (kept alive by the caller), with no
// codecs unless given some.
std::unique_ptr<audio::Decoder> open_bytes(const std::vector<uint8_t>& bytes, audio::Error* error,
                                           const audio::ConverterFactory& converters = no_codecs);

// Reads a whole file; empty when it cannot be read.
std::vector<uint8_t> read_file(const std::string& path);
// Reads a file of the committed test data.
std::vector<uint8_t> read_data_file(const std::string& name);
// The path of a file of the committed test data.
std::string data_file_path(const std::string& name);

// Kernel and user time of this whole process so far, in seconds: shows
// that a waiting library does not spin.
double process_cpu_seconds();

// A BlockConverter that records what it is fed and answers each call with
// `samples_per_call` frames of a constant value.
class FakeConverter : public audio::BlockConverter {
public:
    struct Log {
        std::vector<std::vector<uint8_t>> inputs;
    };
    FakeConverter(audio::AudioFormat format, size_t samples_per_call, std::shared_ptr<Log> log)
        : format_(format), samples_per_call_(samples_per_call), log_(std::move(log)) {}
    audio::AudioFormat output_format() const override { return format_; }
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        log_->inputs.emplace_back(in, in + n);
        out.insert(out.end(), samples_per_call_ * format_.channels, int16_t(8192));
        return true;
    }

private:
    audio::AudioFormat format_;
    size_t samples_per_call_;
    std::shared_ptr<Log> log_;
};

}  // namespace audio_test
