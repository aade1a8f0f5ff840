// The path from a decoder to the mixer: decoded frames mapped to stereo and
// resampled to the output rate. Playback and the decode tool share it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "mix/channel_map.h"
#include "decode/decoder.h"
#include "mix/resampler.h"

namespace audio {

class StereoPipeline {
public:
    // decoder must outlive the pipeline.
    StereoPipeline(Decoder& decoder, uint32_t out_rate);
    // Writes up to `frames` stereo frames at the output rate; fewer only at
    // the end of the stream.
    size_t pull(float* out, size_t frames);
    // The position reached in the decoder's own frames: the output so far,
    // converted back to the input rate (decoded-ahead frames do not count).
    uint64_t frames_consumed() const;

private:
    // Decodes one block into the resampler; false when the decoder is done.
    bool feed();

    Decoder& decoder_;
    uint32_t channels_;
    ChannelMap map_;
    Resampler resampler_;
    std::vector<float> decoded_;
    std::vector<float> stereo_;
    bool input_done_ = false;
    uint64_t consumed_ = 0;  // frames taken from the decoder
    uint64_t produced_ = 0;  // frames handed out at the output rate
    uint32_t in_rate_, out_rate_;
};

}  // namespace audio
