// Writes interleaved 32-bit float samples as a WAVE_FORMAT_IEEE_FLOAT file.
#pragma once

#include <cstdint>
#include <cstdio>

class FloatWavWriter {
public:
    ~FloatWavWriter();
    // Creates the file and writes a header to be completed by close().
    bool open(const char* path, uint32_t rate, uint32_t channels);
    bool write(const float* samples, size_t count);
    // Fills in the sizes and closes the file; false on any write error.
    bool close();

private:
    FILE* file_ = nullptr;
    uint32_t rate_ = 0, channels_ = 0;
    uint64_t data_bytes_ = 0;
    bool ok_ = true;
};
