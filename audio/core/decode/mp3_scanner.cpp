// MP3 frame location: tags, sync search and resynchronisation.
#include "decode/mp3_scanner.h"

#include <algorithm>
#include <cstring>

#include "io/le_bytes.h"

namespace audio {
namespace {

constexpr size_t kId3v2HeaderBytes = 10;
constexpr size_t kId3v1Bytes = 128;
constexpr size_t kApeFooterBytes = 32;
// Junk tolerated before the first frame, and damage skipped in the middle,
// before giving up: bounded so that a file that is no MP3 at all costs the
// same to reject however long it is.
constexpr uint64_t kMaxLeadingJunk = 256 * 1024;
constexpr uint64_t kMaxResyncDistance = 64 * 1024;
constexpr int kSyncChain = 3;    // frames in a row that confirm the first sync
constexpr int kResyncChain = 2;  // and a resync within a known stream
// How far the next header of a free-format stream is looked for: beyond
// the longest frame decoders accept.
constexpr size_t kMaxFreeFrameBytes = 4096;

// Reads a 28-bit "syncsafe" size (7 bits per byte); false if a high bit is set.
bool syncsafe_size(const uint8_t* p, uint32_t* size) {
    if ((p[0] | p[1] | p[2] | p[3]) & 0x80) return false;
    *size = uint32_t(p[0]) << 21 | uint32_t(p[1]) << 14 | uint32_t(p[2]) << 7 | p[3];
    return true;
}

}  // namespace

bool Mp3Scanner::skip_id3v2() {
    const uint64_t file_size = audio_end_;
    while (true) {
        const uint8_t* p = window_.get(audio_begin_, kId3v2HeaderBytes);
        uint32_t size = 0;
        if (!p || std::memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF || !syncsafe_size(p + 6, &size))
            return true;
        bool footer = (p[5] & 0x10) != 0;
        uint64_t next = audio_begin_ + kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
        if (next > file_size) return false;
        audio_begin_ = next;
    }
}

void Mp3Scanner::trim_end_tags() {
    if (audio_end_ >= audio_begin_ + kId3v1Bytes) {
        const uint8_t* p = window_.get(audio_end_ - kId3v1Bytes, 3);
        if (p && std::memcmp(p, "TAG", 3) == 0) audio_end_ -= kId3v1Bytes;
    }
    if (audio_end_ >= audio_begin_ + kApeFooterBytes) {
        const uint8_t* p = window_.get(audio_end_ - kApeFooterBytes, kApeFooterBytes);
        if (p && std::memcmp(p, "APETAGEX", 8) == 0) {
            uint64_t size = le32(p + 12);  // items and footer, not the header
            bool has_header = (le32(p + 20) & 0x80000000u) != 0;
            uint64_t total = size + (has_header ? kApeFooterBytes : 0);
            if (size >= kApeFooterBytes && total <= audio_end_ - audio_begin_) audio_end_ -= total;
        }
    }
}

bool Mp3Scanner::header_at(uint64_t pos, Mp3FrameHeader* header, size_t free_bytes) {
    if (pos + kMp3HeaderBytes > audio_end_) return false;
    const uint8_t* p = window_.get(pos, kMp3HeaderBytes);
    return p && parse_mp3_header(p, header, free_bytes);
}

size_t Mp3Scanner::measure_free_format(uint64_t pos) {
    uint8_t head[kMp3HeaderBytes];
    const uint8_t* p = window_.get(pos, kMp3HeaderBytes);
    if (!p || !is_free_format_mp3_header(p)) return 0;
    std::memcpy(head, p, kMp3HeaderBytes);
    size_t padding = (head[2] >> 1) & 1;
    bool mono = (head[3] >> 6) == 3;
    uint64_t end = std::min<uint64_t>(audio_end_, pos + kMaxFreeFrameBytes + kMp3HeaderBytes);
    // The same version, layer, protection, rate and channel count.
    for (uint64_t next = pos + kMp3HeaderBytes; next + kMp3HeaderBytes <= end; ++next) {
        const uint8_t* q = window_.get(next, kMp3HeaderBytes);
        if (!q) return 0;
        if (q[0] == 0xFF && q[1] == head[1] && (q[2] & 0xFC) == (head[2] & 0xFC) && ((q[3] >> 6) == 3) == mono)
            return size_t(next - pos) - padding;
    }
    return 0;
}

int64_t Mp3Scanner::find_sync(uint64_t from, uint64_t limit, int chain, const Mp3FrameHeader* ref,
                              Mp3FrameHeader* found) {
    limit = std::min(limit, audio_end_);
    for (uint64_t pos = from; pos + kMp3HeaderBytes <= limit; ++pos) {
        const uint8_t* p = window_.get(pos, 1);
        if (!p) return -1;
        if (*p != 0xFF) continue;
        Mp3FrameHeader head;
        size_t free_bytes = free_bytes_ ? free_bytes_ : measure_free_format(pos);
        // Reserved emphasis is a sign of junk where a run of frames is to start.
        if (!header_at(pos, &head, free_bytes) || head.reserved_emphasis || (ref && !same_mp3_stream(head, *ref)))
            continue;
        // Confirm by the frames that follow; a chain cut short by the end of
        // the audio counts when it holds two frames, or one that fills it exactly.
        int count = 1;
        uint64_t next = pos + head.frame_bytes;
        bool confirmed = false;
        while (!confirmed) {
            if (count >= chain) {
                confirmed = true;
            } else if (next + kMp3HeaderBytes > audio_end_) {
                confirmed = count >= 2 || next == audio_end_;
                break;
            } else {
                Mp3FrameHeader following;
                if (!header_at(next, &following, free_bytes) || !same_mp3_stream(following, head)) break;
                ++count;
                next += following.frame_bytes;
            }
        }
        if (confirmed) {
            *found = head;
            if (head.free_format) free_bytes_ = free_bytes;
            return int64_t(pos);
        }
    }
    return -1;
}

Error Mp3Scanner::open() {
    audio_end_ = std::min(audio_end_, source_.size());
    if (!skip_id3v2()) return Error::bad_file_format;
    bool tagged = audio_begin_ > 0;
    trim_end_tags();
    int64_t first = find_sync(audio_begin_, audio_begin_ + kMaxLeadingJunk, kSyncChain, nullptr, &first_);
    if (first < 0) return tagged ? Error::bad_file_format : Error::not_this_format;
    first_offset_ = pos_ = uint64_t(first);
    const uint8_t* frame = window_.get(first_offset_, first_.frame_bytes);
    has_gap_ = frame && is_mp3_info_frame(frame, first_) && read_mp3_encoder_gap(frame, first_, &gap_);
    return Error::none;
}

bool Mp3Scanner::next_frame(std::vector<uint8_t>& frame) {
    while (pos_ + kMp3HeaderBytes <= audio_end_) {
        Mp3FrameHeader head;
        if (header_at(pos_, &head, free_bytes_) && same_mp3_stream(head, first_)) {
            if (pos_ + head.frame_bytes > audio_end_) return false;  // a cut-off last frame
            const uint8_t* p = window_.get(pos_, head.frame_bytes);
            if (!p) return false;
            frame.assign(p, p + head.frame_bytes);
            pos_ += head.frame_bytes;
            bool first = at_first_frame_;
            at_first_frame_ = false;
            if (first && is_mp3_info_frame(frame.data(), head)) {
                skipped_info_ = true;
                continue;
            }
            return true;
        }
        // Damage: look for the next run of good frames of this stream.
        Mp3FrameHeader found;
        int64_t next = find_sync(pos_ + 1, pos_ + 1 + kMaxResyncDistance, kResyncChain, &first_, &found);
        if (next < 0) return false;
        pos_ = uint64_t(next);
        ++resyncs_;
    }
    return false;
}

}  // namespace audio
