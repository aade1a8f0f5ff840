// The float WAV file layout: RIFF header, an 18-byte fmt chunk with tag 3,
// a fact chunk, data.
#include "float_wav_writer.h"

#include <vector>

namespace {

// Appends a little-endian value of `bytes` bytes.
void put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(value >> (8 * i)));
}

// The 58-byte header for `data_bytes` of float samples: a non-PCM format
// carries the extension size in fmt and a fact chunk with the frame count.
std::vector<uint8_t> header(uint32_t rate, uint32_t channels, uint64_t data_bytes) {
    uint32_t data = data_bytes > 0xFFFFFFC0u ? 0xFFFFFFC0u : uint32_t(data_bytes);
    std::vector<uint8_t> h;
    for (char c : {'R', 'I', 'F', 'F'}) h.push_back(uint8_t(c));
    put(h, 50 + data, 4);
    for (char c : {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '}) h.push_back(uint8_t(c));
    put(h, 18, 4);
    put(h, 3, 2);  // WAVE_FORMAT_IEEE_FLOAT
    put(h, channels, 2);
    put(h, rate, 4);
    put(h, rate * channels * 4, 4);
    put(h, channels * 4, 2);
    put(h, 32, 2);
    put(h, 0, 2);  // no extension
    for (char c : {'f', 'a', 'c', 't'}) h.push_back(uint8_t(c));
    put(h, 4, 4);
    put(h, channels ? data / (channels * 4) : 0, 4);
    for (char c : {'d', 'a', 't', 'a'}) h.push_back(uint8_t(c));
    put(h, data, 4);
    return h;
}

}  // namespace

FloatWavWriter::~FloatWavWriter() {
    if (file_) std::fclose(file_);
}

bool FloatWavWriter::open(const char* path, uint32_t rate, uint32_t channels) {
    file_ = std::fopen(path, "wb");
    if (!file_) return false;
    rate_ = rate;
    channels_ = channels;
    std::vector<uint8_t> h = header(rate, channels, 0);
    return std::fwrite(h.data(), 1, h.size(), file_) == h.size();
}

bool FloatWavWriter::write(const float* samples, size_t count) {
    if (std::fwrite(samples, sizeof(float), count, file_) != count) ok_ = false;
    data_bytes_ += count * sizeof(float);
    return ok_;
}

bool FloatWavWriter::close() {
    std::vector<uint8_t> h = header(rate_, channels_, data_bytes_);
    bool ok = ok_ && std::fseek(file_, 0, SEEK_SET) == 0 &&
              std::fwrite(h.data(), 1, h.size(), file_) == h.size();
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok;
}
