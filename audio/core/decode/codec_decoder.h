// The common part of decoders whose compressed data a platform BlockConverter
// turns into PCM (compressed WAV, MP3): the subclass supplies packets of whole
// blocks or frames, this class converts them and hands out float frames.
#pragma once

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

private:
    // Converts packets until some PCM is buffered; false at the end.
    bool refill();

    std::unique_ptr<BlockConverter> converter_;
    AudioFormat format_;
    ContentType content_type_;
    std::vector<uint8_t> packet_;
    std::vector<int16_t> pcm_;  // converted samples not yet handed out
    size_t pcm_pos_ = 0;
    bool ended_ = false;
};

}  // namespace audio
