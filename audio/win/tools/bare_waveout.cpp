// The benchmarks' peer (scripts/bench-audio.sh): a bare waveOut player with
// nothing of the library in it. It streams a 16-bit PCM WAV file straight
// from disk to waveOut in four 10 ms buffers, as the library's own waveOut
// backend queues, so what playing costs the library can be set beside what
// playing costs at all under the same system.
//
//   bare_waveout FILE.wav SECONDS
//
// Prints "cpu_percent" (CPU time over wall time while playing, 100 = one
// core), "peak_working_set_kb" and "peak_private_kb", as bench_play does.
#include <windows.h>
#include <mmsystem.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <vector>

#include "bench_figures.h"
#include "io/le_bytes.h"
#include "test_signals.h"

namespace {

constexpr size_t kBufferCount = 4;
constexpr uint32_t kBufferMs = 10;

// Walks the RIFF chunks to "fmt " and "data": the format, and the file
// offset and size of the sound. False when it is no 16-bit PCM WAV.
bool read_header(FILE* file, WAVEFORMATEX* format, long* data_at, uint32_t* data_size) {
    uint8_t riff[12];
    if (std::fread(riff, 1, 12, file) != 12 || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4))
        return false;
    bool have_format = false;
    uint8_t head[8];
    while (std::fread(head, 1, 8, file) == 8) {
        uint32_t size = audio::le32(head + 4);
        if (std::memcmp(head, "fmt ", 4) == 0 && size >= 16) {
            uint8_t body[16];
            if (std::fread(body, 1, 16, file) != 16) return false;
            *format = {};
            format->wFormatTag = WAVE_FORMAT_PCM;
            format->nChannels = audio::le16(body + 2);
            format->nSamplesPerSec = audio::le32(body + 4);
            format->wBitsPerSample = audio::le16(body + 14);
            format->nBlockAlign = uint16_t(format->nChannels * format->wBitsPerSample / 8);
            format->nAvgBytesPerSec = format->nSamplesPerSec * format->nBlockAlign;
            have_format = audio::le16(body) == WAVE_FORMAT_PCM && format->wBitsPerSample == 16;
            std::fseek(file, long(size - 16 + (size & 1)), SEEK_CUR);
        } else if (std::memcmp(head, "data", 4) == 0) {
            *data_at = std::ftell(file);
            *data_size = size;
            return have_format;
        } else {
            std::fseek(file, long(size + (size & 1)), SEEK_CUR);
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: bare_waveout FILE.wav SECONDS\n");
        return 2;
    }
    double seconds = std::atof(argv[2]);
    FILE* file = std::fopen(argv[1], "rb");
    WAVEFORMATEX format;
    long data_at = 0;
    uint32_t data_size = 0;
    if (!file || !read_header(file, &format, &data_at, &data_size)) {
        std::fprintf(stderr, "bare_waveout: %s is no 16-bit PCM WAV\n", argv[1]);
        return 1;
    }

    HANDLE done = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    HWAVEOUT out;
    if (waveOutOpen(&out, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(done), 0, CALLBACK_EVENT) !=
        MMSYSERR_NOERROR) {
        std::fprintf(stderr, "bare_waveout: waveOutOpen failed\n");
        return 1;
    }
    size_t buffer_bytes = size_t(format.nSamplesPerSec) * kBufferMs / 1000 * format.nBlockAlign;
    std::vector<std::vector<char>> data(kBufferCount, std::vector<char>(buffer_bytes));
    std::vector<WAVEHDR> headers(kBufferCount);

    // Fills a buffer from the file, from its start again at its end, and queues it.
    uint32_t played = 0;
    auto queue = [&](size_t i) {
        size_t got = 0;
        while (got < buffer_bytes) {
            if (played == data_size) {
                std::fseek(file, data_at, SEEK_SET);
                played = 0;
            }
            size_t want = std::min<size_t>(buffer_bytes - got, data_size - played);
            size_t n = std::fread(data[i].data() + got, 1, want, file);
            if (n == 0) break;
            got += n;
            played += uint32_t(n);
        }
        headers[i] = {};
        headers[i].lpData = data[i].data();
        headers[i].dwBufferLength = DWORD(got);
        waveOutPrepareHeader(out, &headers[i], sizeof(WAVEHDR));
        waveOutWrite(out, &headers[i], sizeof(WAVEHDR));
    };

    double cpu_before = audio_test::process_cpu_seconds();
    double wall_before = audio_test::now_seconds();
    for (size_t i = 0; i < kBufferCount; ++i) queue(i);
    while (audio_test::now_seconds() - wall_before < seconds) {
        WaitForSingleObject(done, 100);
        for (size_t i = 0; i < kBufferCount; ++i) {
            if (headers[i].dwFlags & WHDR_DONE) {
                waveOutUnprepareHeader(out, &headers[i], sizeof(WAVEHDR));
                queue(i);
            }
        }
    }
    double cpu = audio_test::process_cpu_seconds() - cpu_before;
    double wall = audio_test::now_seconds() - wall_before;
    audio_test::print_cpu_and_peak_memory(cpu, wall);
    waveOutReset(out);
    for (WAVEHDR& header : headers) waveOutUnprepareHeader(out, &header, sizeof(WAVEHDR));
    waveOutClose(out);
    std::fclose(file);
    return 0;
}
