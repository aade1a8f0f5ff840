// Test signal generation, WAV building and reading, measurement, and the
// process's CPU time.
#include "test_signals.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <ctime>
#endif

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <fstream>
#include <iterator>

#include "decode/probe.h"
#include "io/le_bytes.h"

#ifndef AUDIO_TEST_DATA_DIR
#error "AUDIO_TEST_DATA_DIR must name the test data folder"
#endif

namespace audio_test {
namespace {

const double kPi = 3.14159265358979323846;

void put(std::vector<uint8_t>& out, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// In-place radix-2 FFT.
void fft(std::vector<std::complex<double>>& a) {
    size_t n = a.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    for (size_t len = 2; len <= n; len <<= 1) {
        std::complex<double> w(std::cos(-2 * kPi / double(len)), std::sin(-2 * kPi / double(len)));
        for (size_t i = 0; i < n; i += len) {
            std::complex<double> wn(1);
            for (size_t k = 0; k < len / 2; ++k) {
                std::complex<double> u = a[i + k], v = a[i + k + len / 2] * wn;
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
                wn *= w;
            }
        }
    }
}

}  // namespace

std::vector<float> sine(double freq, uint32_t rate, uint32_t channels, size_t frames, double amplitude) {
    std::vector<float> out(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        float v = float(amplitude * std::sin(2 * kPi * freq * double(i) / rate));
        for (uint32_t c = 0; c < channels; ++c) out[i * channels + c] = v;
    }
    return out;
}

WavLayout float_layout(uint32_t rate, uint16_t channels) {
    WavLayout layout;
    layout.tag = 3;
    layout.bits = 32;
    layout.rate = rate;
    layout.channels = channels;
    return layout;
}

std::vector<uint8_t> encode_samples(const WavLayout& layout, const std::vector<float>& samples) {
    std::vector<uint8_t> out;
    uint16_t tag = layout.tag == 0xFFFE ? layout.subformat : layout.tag;
    for (float s : samples) {
        double v = std::max(-1.0, std::min(1.0, double(s)));
        if (tag == 3 && layout.bits == 32) {
            float f = float(v);
            uint32_t bits;
            std::memcpy(&bits, &f, 4);
            put(out, bits, 4);
        } else if (tag == 3 && layout.bits == 64) {
            uint64_t bits;
            std::memcpy(&bits, &v, 8);
            put(out, bits, 8);
        } else if (layout.bits == 8) {
            out.push_back(uint8_t(std::lround(v * 127.0) + 128));
        } else {
            double scale = std::ldexp(1.0, layout.bits - 1) - 1;
            put(out, uint64_t(int64_t(std::llround(v * scale))), layout.bits / 8);
        }
    }
    return out;
}

std::vector<uint8_t> fmt_body(const WavLayout& layout) {
    std::vector<uint8_t> f;
    uint16_t align = layout.block_align ? layout.block_align : uint16_t(layout.channels * layout.bits / 8);
    put(f, layout.tag, 2);
    put(f, layout.channels, 2);
    put(f, layout.rate, 4);
    put(f, uint64_t(layout.rate) * align, 4);
    put(f, align, 2);
    put(f, layout.bits, 2);
    if (layout.tag == 0xFFFE) {
        put(f, 22, 2);
        put(f, layout.bits, 2);
        put(f, 0, 4);  // channel mask
        put(f, layout.subformat, 2);
        const uint8_t tail[14] = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        f.insert(f.end(), tail, tail + 14);
    }
    return f;
}

WavBuilder& WavBuilder::chunk(const char id[4], const std::vector<uint8_t>& body) {
    return chunk_with_size(id, uint32_t(body.size()), body);
}

WavBuilder& WavBuilder::chunk_with_size(const char id[4], uint32_t declared_size,
                                        const std::vector<uint8_t>& body) {
    chunks_.insert(chunks_.end(), id, id + 4);
    put(chunks_, declared_size, 4);
    chunks_.insert(chunks_.end(), body.begin(), body.end());
    if (body.size() % 2) chunks_.push_back(0);  // pad byte
    return *this;
}

std::vector<uint8_t> WavBuilder::build() const {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    put(out, chunks_.size() + 4, 4);
    out.insert(out.end(), {'W', 'A', 'V', 'E'});
    out.insert(out.end(), chunks_.begin(), chunks_.end());
    return out;
}

std::vector<uint8_t> make_wav(const WavLayout& layout, const std::vector<float>& samples) {
    return WavBuilder().chunk("fmt ", fmt_body(layout)).chunk("data", encode_samples(layout, samples)).build();
}

std::vector<uint8_t> sine_wav(uint32_t rate, uint16_t channels, double seconds) {
    WavLayout layout;
    layout.rate = rate;
    layout.channels = channels;
    return make_wav(layout, sine(1000, rate, channels, size_t(rate * seconds), 0.5));
}

std::vector<uint8_t> dc_wav(double seconds, float value, const WavLayout& layout) {
    return make_wav(layout, std::vector<float>(size_t(layout.rate * seconds) * layout.channels, value));
}

WavChunks wav_chunks(const std::vector<uint8_t>& file) {
    WavChunks chunks;
    for (size_t pos = 12; pos + 8 <= file.size();) {
        uint32_t size = audio::le32(&file[pos + 4]);
        size_t body = pos + 8;
        size_t available = std::min<size_t>(size, file.size() - body);
        if (std::memcmp(&file[pos], "fmt ", 4) == 0)
            chunks.format.assign(file.begin() + long(body), file.begin() + long(body + available));
        if (std::memcmp(&file[pos], "data", 4) == 0)
            chunks.data.assign(file.begin() + long(body), file.begin() + long(body + available));
        pos = body + size + (size & 1);
    }
    return chunks;
}

std::vector<float> decode_all(audio::Decoder& decoder, size_t max_frames) {
    uint32_t channels = decoder.format().channels;
    std::vector<float> out;
    std::vector<float> block(4096 * channels);
    size_t got;
    while (out.size() / channels < max_frames && (got = decoder.read(block.data(), 4096)) > 0)
        out.insert(out.end(), block.begin(), block.begin() + long(got * channels));
    return out;
}

std::vector<float> channel(const std::vector<float>& interleaved, uint32_t channels, uint32_t index) {
    std::vector<float> out;
    for (size_t i = index; i < interleaved.size(); i += channels) out.push_back(interleaved[i]);
    return out;
}

std::vector<float> channel(const std::vector<int16_t>& interleaved, uint32_t channels, uint32_t index) {
    std::vector<float> out;
    for (size_t i = index; i < interleaved.size(); i += channels) out.push_back(interleaved[i] / 32768.0f);
    return out;
}

double rms(const std::vector<float>& samples, size_t begin, size_t end) {
    end = std::min(end, samples.size());
    if (end <= begin) return 0;
    double sum = 0;
    for (size_t i = begin; i < end; ++i) sum += double(samples[i]) * samples[i];
    return std::sqrt(sum / double(end - begin));
}

double zero_crossing_frequency(const std::vector<float>& samples, uint32_t rate, size_t begin, size_t end) {
    end = std::min(end, samples.size());
    // Interpolated crossing instants, first to last, for sub-sample accuracy.
    double first = -1, last = -1;
    int crossings = 0;
    for (size_t i = begin + 1; i < end; ++i) {
        if (samples[i - 1] < 0 && samples[i] >= 0) {
            double t = double(i - 1) + samples[i - 1] / (samples[i - 1] - samples[i]);
            if (first < 0) first = t; else ++crossings;
            last = t;
        }
    }
    if (crossings == 0) return 0;
    return crossings * double(rate) / (last - first);
}

double max_sine_residual(const std::vector<float>& samples, uint32_t rate, double hz, size_t begin, size_t end) {
    end = std::min(end, samples.size());
    const double k = 2.0 * std::cos(2.0 * kPi * hz / rate);
    double worst = 0;
    for (size_t i = begin + 1; i + 1 < end; ++i)
        worst = std::max(worst, std::fabs(double(samples[i - 1]) + samples[i + 1] - k * samples[i]));
    return worst;
}

double worst_spur_db(const std::vector<float>& samples, uint32_t rate, double tone_hz) {
    size_t n = 1;
    while (n * 2 <= samples.size()) n *= 2;
    std::vector<std::complex<double>> a(n);
    for (size_t i = 0; i < n; ++i) {
        double x = 2 * kPi * double(i) / double(n - 1);
        double w = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
        a[i] = samples[i] * w;
    }
    fft(a);
    size_t tone_bin = size_t(std::lround(tone_hz * double(n) / rate));
    double tone = 0, spur = 0;
    for (size_t k = 1; k < n / 2; ++k) {
        double p = std::norm(a[k]);
        bool near_tone = k + 8 >= tone_bin && k <= tone_bin + 8;
        if (near_tone) tone = std::max(tone, p);
        else spur = std::max(spur, p);
    }
    return 10 * std::log10(std::max(spur, 1e-300) / tone);
}

std::function<std::unique_ptr<audio::ByteSource>(audio::Error*)> memory_opener(std::vector<uint8_t> bytes) {
    auto shared = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
    return [shared](audio::Error*) { return audio::make_memory_source(shared->data(), shared->size()); };
}

std::unique_ptr<audio::BlockConverter> no_codecs(const std::vector<uint8_t>&, audio::Error* error) {
    *error = audio::Error::bad_file_format;
    return nullptr;
}

double tone_amplitude(const std::vector<float>& samples, uint32_t rate, double hz) {
    double re = 0, im = 0, window_sum = 0;
    const size_t n = samples.size();
    for (size_t i = 0; i < n; ++i) {
        double w = 0.5 - 0.5 * std::cos(2 * kPi * double(i) / double(n - 1));
        double phase = 2 * kPi * hz * double(i) / rate;
        re += w * samples[i] * std::cos(phase);
        im -= w * samples[i] * std::sin(phase);
        window_sum += w;
    }
    return 2 * std::hypot(re, im) / window_sum;
}

std::unique_ptr<audio::Decoder> open_bytes(const std::vector<uint8_t>& bytes, audio::Error* error,
                                           const audio::ConverterFactory& converters) {
    return audio::open_decoder(audio::make_memory_source(bytes.data(), bytes.size()), converters, error);
}

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string data_file_path(const std::string& name) { return std::string(AUDIO_TEST_DATA_DIR) + "/" + name; }

std::vector<uint8_t> read_data_file(const std::string& name) { return read_file(data_file_path(name)); }

double process_cpu_seconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return static_cast<double>((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    return double(std::clock()) / CLOCKS_PER_SEC;
#endif
}

void render_fed(audio::Engine& engine, float* out, size_t frames) {
    // A 48 kHz device's 10 ms period: no divisor of a queue's length, so
    // that reads cross the end of its ring as a real device's do.
    const size_t kBlock = 480;
    for (size_t done = 0; done < frames; done += kBlock) {
        engine.feed();
        engine.render(out + 2 * done, std::min(kBlock, frames - done));
    }
    engine.feed();
}

}  // namespace audio_test
