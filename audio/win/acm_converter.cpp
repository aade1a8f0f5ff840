// Compressed WAVE formats (ADPCM, G.711, MP3, ...) decoded by the system's
// ACM codecs into 16-bit PCM.
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>

#include "block_feed.h"
#include "wave_format_ex.h"
#include "win_platform.h"

namespace audio {
namespace {

// Input is converted in pieces of at most this many bytes, so one call with
// a large block cannot ask the codec for an unbounded output buffer.
constexpr size_t kMaxChunk = 64 * 1024;

// Held while an ACM stream is opened or closed. Wine's ACM keeps its open
// drivers in lists it changes without a lock of its own; opened and closed
// from several threads at once (streams are made on the callers' threads
// and destroyed on any), a list breaks and the process hangs as it exits.
std::mutex acm_open_close;

// Closes an ACM stream under acm_open_close.
void close_stream(HACMSTREAM stream) {
    std::lock_guard<std::mutex> lock(acm_open_close);
    acmStreamClose(stream, 0);
}

// The fmt bytes as a WAVEFORMATEX the codecs can read: at least the 18-byte
// header (a 16-byte PCM-style chunk gets cbSize 0), cbSize trimmed to the
// extra bytes really present, and suitably aligned storage.
class WaveFormatBuffer {
public:
    // False when the bytes are too short to be a wave format at all.
    bool assign(const std::vector<uint8_t>& bytes) {
        if (bytes.size() < 16) return false;
        size_t total = std::max(bytes.size(), sizeof(WAVEFORMATEX));
        storage_.assign((total + sizeof(uint64_t) - 1) / sizeof(uint64_t), 0);
        std::memcpy(storage_.data(), bytes.data(), bytes.size());
        WAVEFORMATEX* format = get();
        size_t extra = bytes.size() > sizeof(WAVEFORMATEX) ? bytes.size() - sizeof(WAVEFORMATEX) : 0;
        if (bytes.size() < sizeof(WAVEFORMATEX) || format->cbSize > extra)
            format->cbSize = static_cast<WORD>(extra);
        return format->nChannels != 0 && format->nSamplesPerSec != 0;
    }

    // The format, valid after a successful assign().
    WAVEFORMATEX* get() { return reinterpret_cast<WAVEFORMATEX*>(storage_.data()); }

private:
    std::vector<uint64_t> storage_;
};

// 16-bit PCM with the given rate and channel count.
WAVEFORMATEX pcm16_format(DWORD rate, WORD channels) {
    return wave_format_ex(WAVE_FORMAT_PCM, rate, channels, 16);
}

class AcmConverter final : public BlockConverter {
public:
    // block_bytes: what to drop when the codec rejects input (see BlockFeed).
    AcmConverter(HACMSTREAM stream, const WAVEFORMATEX& output, size_t block_bytes)
        : stream_(stream), output_(output), feed_(block_bytes, kMaxChunk) {}

    // Closes the codec's stream; its output so far is already delivered.
    ~AcmConverter() override { close_stream(stream_); }

    AcmConverter(const AcmConverter&) = delete;
    AcmConverter& operator=(const AcmConverter&) = delete;

    // The PCM rate and channel count the codec agreed to produce.
    AudioFormat output_format() const override {
        return AudioFormat{output_.nSamplesPerSec, output_.nChannels};
    }

    // Codecs take whole blocks only; the rest of a partial block waits for
    // the next call, and a block the codec rejects is left out.
    bool convert(const uint8_t* in, size_t n, std::vector<int16_t>& out) override {
        return feed_.convert(in, n, out, [this](uint8_t* src, size_t length, std::vector<int16_t>& pcm,
                                                size_t* used) { return convert_chunk(src, length, pcm, used); });
    }

private:
    // One acmStreamConvert over src; *used receives the input bytes taken.
    BlockFeed::Outcome convert_chunk(uint8_t* src, size_t n, std::vector<int16_t>& out, size_t* used) {
        DWORD dst_size = 0;
        if (acmStreamSize(stream_, static_cast<DWORD>(n), &dst_size, ACM_STREAMSIZEF_SOURCE) != 0 ||
            dst_size == 0)
            return BlockFeed::Outcome::needs_more;  // less than one block: the codec cannot size it
        dst_.resize(std::max<size_t>(dst_size, dst_.size()));

        ACMSTREAMHEADER header = {};
        header.cbStruct = sizeof(header);
        header.pbSrc = src;
        header.cbSrcLength = static_cast<DWORD>(n);
        header.pbDst = dst_.data();
        header.cbDstLength = static_cast<DWORD>(dst_.size());
        if (acmStreamPrepareHeader(stream_, &header, 0) != 0) return BlockFeed::Outcome::rejected;

        DWORD flags = ACM_STREAMCONVERTF_BLOCKALIGN;
        if (first_) flags |= ACM_STREAMCONVERTF_START;
        MMRESULT result = acmStreamConvert(stream_, &header, flags);
        acmStreamUnprepareHeader(stream_, &header, 0);
        if (result != 0) return BlockFeed::Outcome::rejected;
        first_ = false;

        size_t samples = header.cbDstLengthUsed / sizeof(int16_t);
        const int16_t* pcm = reinterpret_cast<const int16_t*>(dst_.data());
        out.insert(out.end(), pcm, pcm + samples);
        *used = std::min<size_t>(header.cbSrcLengthUsed, n);
        // A codec that takes nothing waits for more input.
        return *used == 0 ? BlockFeed::Outcome::needs_more : BlockFeed::Outcome::converted;
    }

    HACMSTREAM stream_;
    WAVEFORMATEX output_;
    BlockFeed feed_;
    bool first_ = true;         // the next conversion starts the stream
    std::vector<uint8_t> dst_;  // output of one conversion
};

// Opens a non-real-time ACM stream from source to 16-bit PCM; on success
// *output holds the PCM format chosen.
HACMSTREAM open_stream(WAVEFORMATEX* source, WAVEFORMATEX* output) {
    std::lock_guard<std::mutex> lock(acm_open_close);
    HACMSTREAM stream = nullptr;
    *output = pcm16_format(source->nSamplesPerSec, source->nChannels);
    if (acmStreamOpen(&stream, nullptr, source, output, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) == 0)
        return stream;

    // The codec cannot produce that exact format: let it propose 16-bit PCM.
    WAVEFORMATEX suggested = {};
    suggested.wFormatTag = WAVE_FORMAT_PCM;
    suggested.wBitsPerSample = 16;
    if (acmFormatSuggest(nullptr, source, &suggested, sizeof(suggested),
                         ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_WBITSPERSAMPLE) != 0)
        return nullptr;
    if (suggested.wBitsPerSample != 16 || suggested.nChannels == 0) return nullptr;
    *output = pcm16_format(suggested.nSamplesPerSec, suggested.nChannels);
    if (acmStreamOpen(&stream, nullptr, source, output, nullptr, 0, 0,
                      ACM_STREAMOPENF_NONREALTIME) == 0)
        return stream;
    return nullptr;
}

}  // namespace

// A converter from the given WAVEFORMATEX bytes to 16-bit PCM, or null with
// Error::bad_file_format when no installed codec takes the format.
std::unique_ptr<BlockConverter> open_block_converter(const std::vector<uint8_t>& wave_format,
                                                     Error* error) {
    *error = Error::bad_file_format;
    WaveFormatBuffer source;
    if (!source.assign(wave_format)) return nullptr;

    WAVEFORMATEX output;
    HACMSTREAM stream = open_stream(source.get(), &output);
    if (stream == nullptr) return nullptr;

    // MP3 arrives a frame per call, so a rejection drops that frame; other
    // codecs lose one block.
    WAVEFORMATEX* format = source.get();
    size_t block_bytes = format->wFormatTag == WAVE_FORMAT_MPEGLAYER3 ? 0 : std::max<WORD>(format->nBlockAlign, 1);
    AcmConverter* converter = new (std::nothrow) AcmConverter(stream, output, block_bytes);
    if (converter == nullptr) {
        close_stream(stream);
        *error = Error::no_memory;
        return nullptr;
    }
    *error = Error::none;
    return std::unique_ptr<BlockConverter>(converter);
}

}  // namespace audio
