// Fuzz target: arbitrary bytes played through the engine's mixer, so that
// whatever format a damaged header announces goes through channel mapping,
// resampling and the gain ramps.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "mix/engine.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    audio::Engine engine(44100, nullptr, 0);
    audio::Error error = audio::Error::none;
    audio::StreamOptions options;
    options.auto_free = true;
    uint32_t stream = engine.create_stream(
        [data, size](audio::Error*) { return audio::make_memory_source(data, size); }, options, &error);
    if (!stream) return 0;
    engine.play(stream, false);
    std::vector<float> out(2 * 2048);
    // Fed between renders, so that each input plays the same every run.
    auto render = [&](size_t frames) {
        engine.feed();
        engine.render(out.data(), frames);
    };
    for (int i = 0; i < 8; ++i) render(2048);
    engine.pause(stream);
    render(512);
    engine.play(stream, true);
    render(2048);
    return 0;
}
