// The common part of decoders whose compressed data a platform BlockConverter
// turns into PCM (compressed WAV, MP3): the subclass supplies packets of whole
// blocks or frames, this class converts them and hands out float frames,
// leaving out what the subclass marks as the codec's lead-in and tail.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decode/decoder.h"

namespace audio {

class CodecDecoder : public Decoder {
public:
    // format: what the converter produces (the stream's own format).
    CodecDecoder(std::unique_ptr<BlockConverter> converter, ContentType content_type, AudioFormat format);
    AudioFormat format() const override { return format_; }
    ContentType content_type() const override { return content_type_; }
    size_t read(float* out, size_t frames) override;

protected:
    // Replaces packet with the next unit of compressed input; false at the end.
    virtual bool next_packet(std::vector<uint8_t>& packet) = 0;

    // Leaves out the first `frames` frames the codec produces.
    void skip_start(uint64_t frames) { skip_ = frames; }
    // Ends the output at frame `end` of what the codec produces (skipped
    // frames included). Called while packets are fed, it may only grow: the
    // frames below it are handed out at once, the rest wait for a later call.
    void limit_end(uint64_t end) { end_ = end; }

private:
    // Converts packets until some PCM can be handed out; false at the end.
    bool refill();
    // Frames buffered and within the end limit.
    size_t deliverable() const;
    // Drops buffered frames still to be skipped.
    void drop_skipped();

    std::unique_ptr<BlockConverter> converter_;
    AudioFormat format_;
    ContentType content_type_;
    std::vector<uint8_t> packet_;
    std::vector<int16_t> pcm_;  // converted samples not yet handed out
    size_t pcm_pos_ = 0;
    uint64_t taken_ = 0;        // frames of the codec's output skipped or handed out
    uint64_t skip_ = 0;         // frames of the codec's output to leave out at the start
    uint64_t end_ = UINT64_MAX;  // frame of the codec's output where ours ends
    bool ended_ = false;
};

}  // namespace audio
