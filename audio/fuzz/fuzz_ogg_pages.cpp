// Fuzz target: damage done to a good Ogg Vorbis file, so that page checks
// and resynchronisation run on files whose headers hold (random bytes seldom
// get past the headers). The input is a list of edits of four bytes each:
// an operation, a position (16 bits, scaled to the file) and an argument.
// Besides crashes it checks that no read() call reads more than its budget
// and that every sample is a finite number.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "counting_source.h"
#include "decode/formats.h"

#ifndef FUZZ_OGG_BASE_FILE
#error "FUZZ_OGG_BASE_FILE must name the Ogg Vorbis file that the edits damage"
#endif

namespace {

constexpr uint64_t kMostBytesPerRead = 256u << 10;

const std::vector<uint8_t>& base_file() {
    static const std::vector<uint8_t> bytes = [] {
        std::ifstream in(FUZZ_OGG_BASE_FILE, std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return bytes;
}

// Applies one edit: flip a byte, cut a run, duplicate a run, or insert noise.
void apply_edit(std::vector<uint8_t>& file, const uint8_t* edit) {
    if (file.empty()) return;
    size_t at = ((size_t(edit[1]) << 8 | edit[2]) * file.size()) >> 16;
    size_t arg = edit[3];
    size_t run = std::min(arg * 16, file.size() - at);
    switch (edit[0] % 4) {
    case 0: file[at] ^= uint8_t(arg | 1); break;
    case 1: file.erase(file.begin() + long(at), file.begin() + long(at + run)); break;
    case 2: {
        std::vector<uint8_t> copy(file.begin() + long(at), file.begin() + long(at + run));
        file.insert(file.begin() + long(at), copy.begin(), copy.end());
        break;
    }
    default: {
        std::vector<uint8_t> noise(arg * 64);
        uint32_t state = uint32_t(arg) * 2654435761u + 1;
        for (uint8_t& b : noise) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
        file.insert(file.begin() + long(at), noise.begin(), noise.end());
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> file = base_file();
    for (size_t i = 0; i + 4 <= size && i < 64; i += 4) apply_edit(file, data + i);
    uint64_t read = 0;
    std::unique_ptr<audio::ByteSource> source = std::make_unique<audio_test::CountingSource>(file, &read);
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::Decoder> decoder = audio::open_vorbis_decoder(source, audio::ConverterFactory(), &error);
    if (!decoder) return 0;
    const uint32_t channels = decoder->format().channels;
    std::vector<float> block(1024 * channels);
    for (int i = 0; i < 1024; ++i) {
        uint64_t before = read;
        size_t got = decoder->read(block.data(), 1024);
        if (read - before > kMostBytesPerRead) std::abort();
        for (size_t k = 0; k < got * channels; ++k)
            if (!std::isfinite(block[k])) std::abort();
        if (got == 0) break;
    }
    return 0;
}
