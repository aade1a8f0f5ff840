// RIFF/WAVE parsing: one function per chunk, each checking its sizes.
#include "decode/wav_parser.h"

#include <algorithm>
#include <cstring>

#include "io/le_bytes.h"
#include "decode/wave_format.h"

namespace audio {
namespace {

constexpr uint32_t kDataToEnd = 0xFFFFFFFF;  // streaming writers' "size unknown"
constexpr uint64_t kUnknownEnd = UINT64_MAX;  // a RIFF size that bounds nothing
// The tail shared by every KSDATAFORMAT_SUBTYPE GUID built from a format tag.
const uint8_t kSubformatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Reads exactly n bytes or reports that the file is shorter.
bool read_exact(ByteSource& source, void* dst, size_t n) { return source.read(dst, n) == n; }

// Checks the 12-byte RIFF header and notes where its size says the file
// ends (kUnknownEnd when a streaming writer left it at 0 or all ones).
Error parse_riff_header(ByteSource& source, uint64_t* riff_end) {
    uint8_t header[12];
    if (!read_exact(source, header, sizeof header)) return Error::not_this_format;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
        return Error::not_this_format;
    uint32_t size = le32(header + 4);
    *riff_end = size == 0 || size == kDataToEnd ? kUnknownEnd : 8 + uint64_t(size);
    return Error::none;
}

// Resolves WAVE_FORMAT_EXTENSIBLE to the tag its subformat GUID stands for.
Error parse_extensible(const std::vector<uint8_t>& fmt, WavLayout* layout) {
    if (fmt.size() < 40 || le16(fmt.data() + 16) < 22) return Error::bad_file_format;
    const uint8_t* guid = fmt.data() + 24;
    if (std::memcmp(guid + 2, kSubformatGuidTail, sizeof kSubformatGuidTail) != 0) {
        layout->format_tag = kWaveFormatExtensible;  // unknown: left to the codecs
        return Error::none;
    }
    layout->format_tag = le16(guid);
    return Error::none;
}

// Reads the fmt chunk of `size` bytes (the source is at its body).
Error parse_fmt_chunk(ByteSource& source, uint32_t size, WavLayout* layout) {
    if (size < 16 || size > 65536) return Error::bad_file_format;
    layout->fmt_chunk.resize(size);
    if (!read_exact(source, layout->fmt_chunk.data(), size)) return Error::bad_file_format;
    const uint8_t* p = layout->fmt_chunk.data();
    layout->format_tag = le16(p);
    layout->channels = le16(p + 2);
    layout->rate = le32(p + 4);
    layout->block_align = le16(p + 12);
    layout->bits_per_sample = le16(p + 14);
    if (layout->format_tag == kWaveFormatExtensible) return parse_extensible(layout->fmt_chunk, layout);
    return Error::none;
}

// True when a chunk header that fits in the file starts at pos: an id of
// printable characters and a size that does not run past the end.
bool chunk_starts_at(ByteSource& source, uint64_t pos) {
    uint8_t header[8];
    if (!source.seek(pos) || !read_exact(source, header, sizeof header)) return false;
    for (int i = 0; i < 4; ++i) {
        if (header[i] < 0x20 || header[i] > 0x7E) return false;
    }
    return pos + sizeof header + le32(header + 4) <= source.size();
}

// The bytes of a data chunk declared with size 0 and starting at `start`.
// Streaming writers leave 0 there for "unknown", but 0 is also an honest
// empty chunk: it is empty when another chunk follows or the RIFF size ends
// the file here, and otherwise runs to the RIFF's end or the file's.
uint64_t zero_sized_data(ByteSource& source, uint64_t start, uint64_t riff_end) {
    if (riff_end <= start || chunk_starts_at(source, start)) return 0;
    return std::min(riff_end, source.size()) - start;
}

// Notes where the data chunk lies. A size of all ones ("unknown") or one
// larger than the file runs to the end of the file; 0 is weighed above.
void parse_data_chunk(ByteSource& source, uint32_t size, uint64_t riff_end, WavLayout* layout) {
    uint64_t start = source.tell();
    uint64_t available = source.size() - start;
    layout->data_offset = start;
    if (size == 0) layout->data_size = zero_sized_data(source, start, riff_end);
    else layout->data_size = size == kDataToEnd || size > available ? available : size;
}

}  // namespace

Error parse_wav(ByteSource& source, WavLayout* layout) {
    uint64_t riff_end = kUnknownEnd;
    if (Error error = parse_riff_header(source, &riff_end); error != Error::none) return error;
    bool have_fmt = false, have_data = false;
    uint8_t chunk[8];
    while (read_exact(source, chunk, sizeof chunk)) {
        uint32_t size = le32(chunk + 4);
        uint64_t body = source.tell();
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !have_fmt) {
            if (Error error = parse_fmt_chunk(source, size, layout); error != Error::none) return error;
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !have_data) {
            parse_data_chunk(source, size, riff_end, layout);
            have_data = true;
        }
        if (have_fmt && have_data) return Error::none;
        // Chunks are word-aligned: an odd size is followed by a pad byte.
        uint64_t next = body + uint64_t(size) + (size & 1);
        if (next > source.size() || !source.seek(next)) break;
    }
    return Error::bad_file_format;
}

}  // namespace audio
