// Streams whose frames switch between mono and stereo. A codec decodes only
// frames of the channel count it was opened for, so each run of frames of
// one count goes to a codec of its own, and its output is mapped to the
// stream's channel count: mono to both sides, stereo mixed to mono.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "decode/decoder.h"

namespace audio {

class Mp3ModeSwitchConverter : public BlockConverter {
public:
    // first: the codec for the first frames, which gives the output format.
    Mp3ModeSwitchConverter(std::unique_ptr<BlockConverter> first, ConverterFactory converters);
    AudioFormat output_format() const override { return format_; }
    // Takes one whole frame.
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override;

private:
    // Gets the rest of the current codec's output, then opens one for the
    // frame's channel count; false when no codec takes it.
    bool switch_codec(const std::vector<uint8_t>& frame, std::vector<int16_t>& out);
    // Appends the codec's samples in the output's channel count.
    void append(const std::vector<int16_t>& pcm, size_t frames, std::vector<int16_t>& out) const;

    std::unique_ptr<BlockConverter> codec_;
    ConverterFactory converters_;
    AudioFormat format_;
    uint32_t codec_channels_;
    uint64_t expected_ = 0;            // samples per channel the frames fed to the codec stand for
    uint64_t produced_ = 0;            // and what it has put out
    std::vector<uint8_t> last_frame_;  // the last frame the codec took
    std::vector<int16_t> pcm_;         // one conversion's output
};

}  // namespace audio
