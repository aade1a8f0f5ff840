// Ogg files taken apart and put together again for the Vorbis tests: where
// the pages lie, a page broken on purpose, and a comment header of any size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace audio_test {

struct OggPageSpan {
    size_t offset = 0, size = 0;
    int64_t granule = 0;  // the page's granule position (frames up to its end)
};

// The pages of a well-formed file, in order.
std::vector<OggPageSpan> ogg_pages(const std::vector<uint8_t>& file);

// How many pages the three Vorbis header packets take.
size_t ogg_header_pages(const std::vector<uint8_t>& file);

// The file with its comment header replaced by one that holds a single
// comment of `comment_bytes` bytes, paged as an encoder would, and the audio
// pages renumbered after it.
std::vector<uint8_t> with_comment_of_size(const std::vector<uint8_t>& file, size_t comment_bytes);

}  // namespace audio_test
