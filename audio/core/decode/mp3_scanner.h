// Finds the MPEG audio frames of a file: skips ID3v2 tags and junk at the
// start, stops before ID3v1 and APE tags at the end, leaves out the Xing/Info
// header frame, and resynchronises after damage.
#pragma once

#include <cstdint>
#include <vector>

#include "error.h"
#include "io/byte_source.h"
#include "io/byte_window.h"
#include "decode/mp3_frame.h"

namespace audio {

class Mp3Scanner {
public:
    // Scans the whole source, or only its bytes [begin, end) (the data chunk
    // of a WAV file).
    explicit Mp3Scanner(ByteSource& source) : Mp3Scanner(source, 0, source.size()) {}
    Mp3Scanner(ByteSource& source, uint64_t begin, uint64_t end)
        : source_(source), window_(source), audio_begin_(begin), audio_end_(end) {}

    // Locates the audio and its first frame. Returns Error::none,
    // not_this_format (no frames found) or bad_file_format (tags but no frames).
    Error open();
    // The first audio frame's header: the stream's format.
    const Mp3FrameHeader& first_header() const { return first_; }
    // The encoder's delay and padding from the LAME extension of the
    // Xing/Info frame; null when the file does not say.
    const Mp3EncoderGap* encoder_gap() const { return has_gap_ ? &gap_ : nullptr; }
    // Copies the next audio frame into frame; false at the end.
    bool next_frame(std::vector<uint8_t>& frame);

    // What the scan found, for tests.
    uint64_t first_frame_offset() const { return first_offset_; }
    int resyncs() const { return resyncs_; }
    bool skipped_info_frame() const { return skipped_info_; }

private:
    // Moves audio_begin_ past any ID3v2 tags; false when one claims more than the file.
    bool skip_id3v2();
    // Moves audio_end_ before an ID3v1 tag and an APE tag, if present.
    void trim_end_tags();
    // The first position in [from, limit) where `chain` consecutive
    // consistent frames start (fewer when they run to the end of the audio);
    // -1 if none. ref, if given, fixes the stream the frames must match.
    int64_t find_sync(uint64_t from, uint64_t limit, int chain, const Mp3FrameHeader* ref,
                      Mp3FrameHeader* found);
    // Reads the header at pos if it is valid and lies within the audio;
    // free_bytes as for parse_mp3_header.
    bool header_at(uint64_t pos, Mp3FrameHeader* header, size_t free_bytes);
    // The free-format frame length (without padding) that the header at pos
    // implies: the distance to the next header of the same kind. 0 if none.
    size_t measure_free_format(uint64_t pos);

    ByteSource& source_;
    ByteWindow window_;
    uint64_t audio_begin_ = 0, audio_end_ = 0;
    uint64_t first_offset_ = 0;
    uint64_t pos_ = 0;
    Mp3FrameHeader first_;
    size_t free_bytes_ = 0;  // a free-format stream's frame length without padding
    bool at_first_frame_ = true;
    bool skipped_info_ = false;
    bool has_gap_ = false;
    Mp3EncoderGap gap_;
    int resyncs_ = 0;
};

}  // namespace audio
