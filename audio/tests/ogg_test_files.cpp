// Ogg pages scanned by hand, and rebuilt with libogg's own pager.
#include "ogg_test_files.h"

#include <cstring>
#include <stdexcept>
#include <string>

#include <ogg/ogg.h>

#include "io/le_bytes.h"

namespace audio_test {
namespace {

// The first three packets (the Vorbis headers) of a file.
std::vector<std::vector<uint8_t>> header_packets(const std::vector<uint8_t>& file, size_t* pages_used) {
    std::vector<OggPageSpan> pages = ogg_pages(file);
    ogg_stream_state stream;
    ogg_stream_init(&stream, int(audio::le32(&file[14])));
    std::vector<std::vector<uint8_t>> packets;
    *pages_used = 0;
    while (packets.size() < 3 && *pages_used < pages.size()) {
        const OggPageSpan& span = pages[(*pages_used)++];
        ogg_page page{};
        page.header = const_cast<uint8_t*>(&file[span.offset]);
        page.header_len = 27 + file[span.offset + 26];
        page.body = page.header + page.header_len;
        page.body_len = long(span.size) - page.header_len;
        ogg_stream_pagein(&stream, &page);
        ogg_packet packet;
        while (packets.size() < 3 && ogg_stream_packetout(&stream, &packet) == 1)
            packets.emplace_back(packet.packet, packet.packet + packet.bytes);
    }
    ogg_stream_clear(&stream);
    if (packets.size() < 3) throw std::runtime_error("no Vorbis headers");
    return packets;
}

void append_pages(ogg_stream_state& stream, bool flush, std::vector<uint8_t>& out) {
    ogg_page page;
    while (flush ? ogg_stream_flush(&stream, &page) : ogg_stream_pageout(&stream, &page)) {
        out.insert(out.end(), page.header, page.header + page.header_len);
        out.insert(out.end(), page.body, page.body + page.body_len);
    }
}

std::vector<uint8_t> comment_packet(size_t comment_bytes) {
    const std::string vendor = "test", key = "COVERART=";
    std::vector<uint8_t> packet{3, 'v', 'o', 'r', 'b', 'i', 's'};
    audio::put_le32(packet, uint32_t(vendor.size()));
    packet.insert(packet.end(), vendor.begin(), vendor.end());
    audio::put_le32(packet, 1);
    audio::put_le32(packet, uint32_t(comment_bytes));
    packet.insert(packet.end(), key.begin(), key.end());
    packet.resize(packet.size() + comment_bytes - key.size(), 'A');
    packet.push_back(1);  // framing bit
    return packet;
}

}  // namespace

std::vector<OggPageSpan> ogg_pages(const std::vector<uint8_t>& file) {
    std::vector<OggPageSpan> pages;
    for (size_t at = 0; at + 27 <= file.size();) {
        if (std::memcmp(&file[at], "OggS", 4) != 0) throw std::runtime_error("not a page");
        size_t size = 27 + file[at + 26];
        for (size_t i = 0; i < file[at + 26]; ++i) size += file[at + 27 + i];
        int64_t granule = int64_t(uint64_t(audio::le32(&file[at + 6])) | uint64_t(audio::le32(&file[at + 10])) << 32);
        pages.push_back({at, size, granule});
        at += size;
    }
    return pages;
}

size_t ogg_header_pages(const std::vector<uint8_t>& file) {
    size_t pages = 0;
    header_packets(file, &pages);
    return pages;
}

std::vector<uint8_t> with_comment_of_size(const std::vector<uint8_t>& file, size_t comment_bytes) {
    size_t header_pages = 0;
    std::vector<std::vector<uint8_t>> headers = header_packets(file, &header_pages);
    headers[1] = comment_packet(comment_bytes);
    ogg_stream_state stream;
    ogg_stream_init(&stream, int(audio::le32(&file[14])));
    std::vector<uint8_t> out;
    for (size_t i = 0; i < 3; ++i) {
        ogg_packet packet{};
        packet.packet = headers[i].data();
        packet.bytes = long(headers[i].size());
        packet.b_o_s = i == 0;
        packet.packetno = ogg_int64_t(i);
        ogg_stream_packetin(&stream, &packet);
        if (i == 0) append_pages(stream, true, out);  // the first header has a page of its own
    }
    append_pages(stream, true, out);
    uint32_t sequence = uint32_t(stream.pageno);
    ogg_stream_clear(&stream);
    // The audio pages as they were, renumbered and given new checksums.
    std::vector<OggPageSpan> pages = ogg_pages(file);
    for (size_t p = header_pages; p < pages.size(); ++p) {
        std::vector<uint8_t> bytes(file.begin() + long(pages[p].offset), file.begin() + long(pages[p].offset + pages[p].size));
        for (int i = 0; i < 4; ++i) bytes[18 + size_t(i)] = uint8_t(sequence >> (8 * i));
        ++sequence;
        ogg_page page{};
        page.header = bytes.data();
        page.header_len = 27 + bytes[26];
        page.body = bytes.data() + page.header_len;
        page.body_len = long(bytes.size()) - page.header_len;
        ogg_page_checksum_set(&page);
        out.insert(out.end(), bytes.begin(), bytes.end());
    }
    return out;
}

}  // namespace audio_test
