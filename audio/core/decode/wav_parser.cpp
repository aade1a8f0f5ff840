// RIFF/WAVE parsing: one function per chunk, each checking its sizes.
#include "decode/wav_parser.h"

#include <cstring>

#include "io/le_bytes.h"
#include "decode/wave_format.h"

namespace audio {
namespace {

constexpr uint32_t kDataToEnd = 0xFFFFFFFF;  // streaming writers' "size unknown"
// The tail shared by every KSDATAFORMAT_SUBTYPE GUID built from a format tag.
const uint8_t kSubformatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// Reads exactly n bytes or reports that the file is shorter.
bool read_exact(ByteSource& source, void* dst, size_t n) { return source.read(dst, n) == n; }

// Checks the 12-byte RIFF header.
Error parse_riff_header(ByteSource& source) {
    uint8_t header[12];
    if (!read_exact(source, header, sizeof header)) return Error::not_this_format;
    if (std::memcmp(header, "RIFF", 4) != 0 || std::memcmp(header + 8, "WAVE", 4) != 0)
        return Error::not_this_format;
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

// Notes where the data chunk lies; its size may be unknown (0 or all ones)
// or larger than the file, and then the data runs to the end of the file.
void parse_data_chunk(ByteSource& source, uint32_t size, WavLayout* layout) {
    uint64_t start = source.tell();
    uint64_t available = source.size() - start;
    layout->data_offset = start;
    bool to_end = size == 0 || size == kDataToEnd || size > available;
    layout->data_size = to_end ? available : size;
}

}  // namespace

Error parse_wav(ByteSource& source, WavLayout* layout) {
    if (Error error = parse_riff_header(source); error != Error::none) return error;
    bool have_fmt = false, have_data = false;
    uint8_t chunk[8];
    while (read_exact(source, chunk, sizeof chunk)) {
        uint32_t size = le32(chunk + 4);
        uint64_t body = source.tell();
        if (std::memcmp(chunk, "fmt ", 4) == 0 && !have_fmt) {
            if (Error error = parse_fmt_chunk(source, size, layout); error != Error::none) return error;
            have_fmt = true;
        } else if (std::memcmp(chunk, "data", 4) == 0 && !have_data) {
            parse_data_chunk(source, size, layout);
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
