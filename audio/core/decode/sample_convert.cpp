// Sample format conversion loops. Each one is a tight loop over a block so
// that the per-sample cost is a few instructions.
#include "decode/sample_convert.h"

#include <cstring>

#include "io/le_bytes.h"

namespace audio {
namespace {

// 8-bit WAV samples are unsigned with 128 as silence.
void convert_u8(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = (float(in[i]) - 128.0f) * (1.0f / 128.0f);
}

// 16-bit signed little-endian.
void convert_s16(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = float(int16_t(le16(in + 2 * i))) * (1.0f / 32768.0f);
}

// 24-bit signed little-endian, sign-extended through the top byte.
void convert_s24(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = in + 3 * i;
        int32_t v = int32_t(uint32_t(p[0]) << 8 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 24) >> 8;
        out[i] = float(v) * (1.0f / 8388608.0f);
    }
}

// 32-bit signed little-endian.
void convert_s32(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = float(int32_t(le32(in + 4 * i))) * (1.0f / 2147483648.0f);
}

// Replaces NaN, infinities and absurd magnitudes, which a damaged float file
// may hold, by silence so that they cannot poison the mixer and resampler.
inline float sane_or_zero(double v) { return (v > -1e6 && v < 1e6) ? float(v) : 0.0f; }

// 32-bit IEEE float (little-endian hosts only, as all our targets are).
void convert_f32(const uint8_t* in, float* out, size_t count) {
    std::memcpy(out, in, count * sizeof(float));
    for (size_t i = 0; i < count; ++i) out[i] = sane_or_zero(out[i]);
}

// 64-bit IEEE float.
void convert_f64(const uint8_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        double v;
        std::memcpy(&v, in + 8 * i, sizeof v);
        out[i] = sane_or_zero(v);
    }
}

}  // namespace

SampleConverter pcm_converter(int bytes) {
    switch (bytes) {
    case 1: return convert_u8;
    case 2: return convert_s16;
    case 3: return convert_s24;
    case 4: return convert_s32;
    default: return nullptr;
    }
}

SampleConverter float_converter(int bytes) {
    switch (bytes) {
    case 4: return convert_f32;
    case 8: return convert_f64;
    default: return nullptr;
    }
}

void int16_to_float(const int16_t* in, float* out, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = float(in[i]) * (1.0f / 32768.0f);
}

}  // namespace audio
