// Little-endian field access for the binary headers we parse (RIFF, WAVE
// formats, tag footers) and build (the MP3 wave format).
#pragma once

#include <cstdint>
#include <vector>

namespace audio {

// Reads a 16-bit little-endian value.
inline uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }

// Reads a 32-bit little-endian value.
inline uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// Appends a 16-bit little-endian value.
inline void put_le16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(uint8_t(v));
    out.push_back(uint8_t(v >> 8));
}

// Appends a 32-bit little-endian value.
inline void put_le32(std::vector<uint8_t>& out, uint32_t v) {
    put_le16(out, v & 0xFFFF);
    put_le16(out, v >> 16);
}

}  // namespace audio
