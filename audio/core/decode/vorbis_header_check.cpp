// Ogg page walking and comment header validation.
#include "decode/vorbis_header_check.h"

#include <cstring>
#include <vector>

#include "io/le_bytes.h"

namespace audio {
namespace {

constexpr size_t kPageHeaderBytes = 27;

// Collects the bytes of the second packet of the first logical stream.
bool read_second_packet(ByteSource& source, std::vector<uint8_t>* packet) {
    if (!source.seek(0)) return false;
    int packet_index = 0;
    uint32_t serial = 0;
    bool first_page = true;
    while (true) {
        uint8_t header[kPageHeaderBytes];
        uint8_t lacing[255];
        if (source.read(header, sizeof header) != sizeof header || std::memcmp(header, "OggS", 4) != 0) return false;
        if (first_page) serial = le32(header + 14);
        first_page = false;
        if (le32(header + 14) != serial) return false;  // interleaved streams are not supported
        size_t segments = header[26];
        if (source.read(lacing, segments) != segments) return false;
        for (size_t i = 0; i < segments; ++i) {
            size_t n = lacing[i];
            if (packet_index == 1) {
                if (packet->size() + n > kMaxVorbisCommentBytes) return false;
                size_t at = packet->size();
                packet->resize(at + n);
                if (source.read(packet->data() + at, n) != n) return false;
            } else if (!source.seek(source.tell() + n)) {
                return false;
            }
            // A lacing value below 255 ends a packet.
            if (n < 255 && ++packet_index == 2) return true;
        }
    }
}

// Takes a 32-bit length from the packet at *pos, if the packet holds one.
bool take_length(const std::vector<uint8_t>& packet, size_t* pos, uint32_t* value) {
    if (packet.size() - *pos < 4) return false;
    *value = le32(packet.data() + *pos);
    *pos += 4;
    return true;
}

}  // namespace

bool check_vorbis_comment_header(ByteSource& source, size_t* comment_bytes) {
    std::vector<uint8_t> packet;
    if (!read_second_packet(source, &packet)) return false;
    if (packet.size() < 7 || packet[0] != 3 || std::memcmp(packet.data() + 1, "vorbis", 6) != 0) return false;
    size_t pos = 7;
    uint32_t vendor = 0, count = 0;
    if (!take_length(packet, &pos, &vendor) || vendor > packet.size() - pos) return false;
    pos += vendor;
    if (!take_length(packet, &pos, &count) || count > (packet.size() - pos) / 4) return false;
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t length = 0;
        if (!take_length(packet, &pos, &length) || length > packet.size() - pos) return false;
        pos += length;
    }
    *comment_bytes = packet.size();
    return true;
}

}  // namespace audio
