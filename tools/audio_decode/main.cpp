// AudioDecode IN OUT.wav [--out-rate N] [--bench]
//
// Decodes IN through the audio library into a 32-bit float WAV: at the
// file's own rate and channels through a decode channel, or with --out-rate
// through the resampler and stereo mapping that playback uses. --bench prints
// the decoding speed as a multiple of real time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bass.h"
#include "decode/format_limits.h"
#include "decode/probe.h"
#include "error_names.h"
#include "float_wav_writer.h"
#include "host_platform.h"
#include "mix/stereo_pipeline.h"
#include "public_codes.h"

namespace {

struct Options {
    const char* in = nullptr;
    const char* out = nullptr;
    uint32_t out_rate = 0;
    bool bench = false;
};

// Reads the command line; false (with a usage message) when it is wrong.
bool parse_options(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--bench") == 0) {
            options->bench = true;
        } else if (std::strcmp(argv[i], "--out-rate") == 0 && i + 1 < argc) {
            long rate = std::strtol(argv[++i], nullptr, 10);
            if (rate < long(audio::kMinRate) || rate > long(audio::kMaxRate)) return false;
            options->out_rate = uint32_t(rate);
        } else if (!options->in) {
            options->in = argv[i];
        } else if (!options->out) {
            options->out = argv[i];
        } else {
            return false;
        }
    }
    return options->in && options->out;
}

// Reports a refusal of the library by its error's name.
int fail(int code) {
    std::fprintf(stderr, "%s\n", audio::error_name(code));
    return 1;
}

using Clock = std::chrono::steady_clock;

// Seconds since start.
double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Decodes through a decode channel of the public API, at the file's format.
int decode_native(const Options& options, uint64_t* frames, uint32_t* rate) {
    if (!BASS_Init(BASS_DEVICE_NOSOUND, 44100, 0, nullptr, nullptr)) return fail(BASS_ErrorGetCode());
    auto create_start = Clock::now();
    HSTREAM stream = BASS_StreamCreateFile(FALSE, options.in, 0, 0, BASS_STREAM_DECODE);
    if (options.bench) std::printf("stream create: %.3f ms\n", 1000 * seconds_since(create_start));
    if (!stream) {
        int error = BASS_ErrorGetCode();
        BASS_Free();
        return fail(error);
    }
    BASS_CHANNELINFO info;
    BASS_ChannelGetInfo(stream, &info);
    *rate = info.freq;
    FloatWavWriter writer;
    if (!writer.open(options.out, info.freq, info.chans)) {
        std::fprintf(stderr, "cannot write %s\n", options.out);
        BASS_Free();
        return 1;
    }
    std::vector<float> buffer(16384 * info.chans);
    DWORD bytes;
    while ((bytes = BASS_ChannelGetData(stream, buffer.data(), DWORD(buffer.size() * sizeof(float)))) != DWORD(-1)) {
        writer.write(buffer.data(), bytes / sizeof(float));
        *frames += bytes / sizeof(float) / info.chans;
    }
    BASS_Free();
    if (!writer.close()) {
        std::fprintf(stderr, "cannot write %s\n", options.out);
        return 1;
    }
    return 0;
}

// Decodes through the playback path: stereo at the requested rate.
int decode_resampled(const Options& options, uint64_t* frames) {
    const audio::Platform& platform = audio::host_platform();
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::ByteSource> source = platform.open_file_source(options.in, &error);
    if (!source) return fail(audio::public_error_code(error));
    std::unique_ptr<audio::Decoder> decoder =
        audio::open_decoder(std::move(source), platform.open_block_converter, &error);
    if (!decoder) return fail(audio::public_error_code(error));
    audio::StereoPipeline pipeline(*decoder, options.out_rate);
    FloatWavWriter writer;
    if (!writer.open(options.out, options.out_rate, 2)) {
        std::fprintf(stderr, "cannot write %s\n", options.out);
        return 1;
    }
    std::vector<float> buffer(2 * 16384);
    size_t got;
    while ((got = pipeline.pull(buffer.data(), buffer.size() / 2)) > 0) {
        writer.write(buffer.data(), got * 2);
        *frames += got;
    }
    if (!writer.close()) {
        std::fprintf(stderr, "cannot write %s\n", options.out);
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse_options(argc, argv, &options)) {
        std::fprintf(stderr, "usage: AudioDecode IN OUT.wav [--out-rate N] [--bench]\n");
        return 2;
    }
    auto start = Clock::now();
    uint64_t frames = 0;
    uint32_t rate = options.out_rate;
    int result = options.out_rate ? decode_resampled(options, &frames) : decode_native(options, &frames, &rate);
    if (result != 0) return result;
    double seconds = seconds_since(start);
    if (options.bench) {
        double audio_seconds = rate ? double(frames) / rate : 0.0;
        std::printf("decode speed: %.1fx real time (%.2f s of audio in %.3f s)\n",
                    audio_seconds / std::max(seconds, 1e-9), audio_seconds, seconds);
    }
    return 0;
}
