// Codec per channel count for MP3 streams that switch between mono and stereo.
#include "decode/mp3_mode_switch.h"

#include <algorithm>

#include "decode/mp3_frame.h"

namespace audio {

Mp3ModeSwitchConverter::Mp3ModeSwitchConverter(std::unique_ptr<BlockConverter> first, ConverterFactory converters)
    : codec_(std::move(first)), converters_(std::move(converters)), format_(codec_->output_format()),
      codec_channels_(format_.channels) {}

bool Mp3ModeSwitchConverter::convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) {
    std::vector<uint8_t> frame(in, in + n);
    Mp3FrameHeader h;
    if (!parse_mp3_frame_header(frame, &h)) return codec_->convert(in, n, out);
    if (h.channels != codec_channels_ && !switch_codec(frame, out)) return false;
    pcm_.clear();
    bool ok = codec_->convert(in, n, pcm_);
    if (ok) expected_ += h.samples;
    size_t frames = pcm_.size() / codec_channels_;
    produced_ += frames;
    append(pcm_, frames, out);
    last_frame_ = std::move(frame);
    return ok;
}

bool Mp3ModeSwitchConverter::switch_codec(const std::vector<uint8_t>& frame, std::vector<int16_t>& out) {
    // A silent frame makes the codec give up a frame it may hold back; of
    // its output only what the frames fed stand for is kept, so the runs
    // stay in step.
    if (!last_frame_.empty()) {
        std::fill(last_frame_.begin() + kMp3HeaderBytes, last_frame_.end(), 0);
        pcm_.clear();
        codec_->convert(last_frame_.data(), last_frame_.size(), pcm_);
        uint64_t owed = expected_ > produced_ ? expected_ - produced_ : 0;
        append(pcm_, size_t(std::min<uint64_t>(owed, pcm_.size() / codec_channels_)), out);
    }
    Mp3FrameHeader h;
    parse_mp3_frame_header(frame, &h);
    Error error = Error::none;
    std::unique_ptr<BlockConverter> codec = converters_(mp3_wave_format(h), &error);
    if (!codec || codec->output_format().channels != h.channels || codec->output_format().rate != format_.rate)
        return false;
    codec_ = std::move(codec);
    codec_channels_ = h.channels;
    expected_ = produced_ = 0;
    last_frame_.clear();
    return true;
}

void Mp3ModeSwitchConverter::append(const std::vector<int16_t>& pcm, size_t frames, std::vector<int16_t>& out) const {
    const int16_t* p = pcm.data();
    for (size_t i = 0; i < frames; ++i, p += codec_channels_) {
        if (codec_channels_ == format_.channels) {
            out.insert(out.end(), p, p + codec_channels_);
        } else if (codec_channels_ == 1) {
            out.insert(out.end(), format_.channels, p[0]);
        } else {
            out.push_back(int16_t((int32_t(p[0]) + p[1]) / 2));
        }
    }
}

}  // namespace audio
