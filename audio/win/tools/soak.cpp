// The soak program: thousands of cycles over a list of files, watching the
// process for leaks. A cycle plays a stream (create -> play -> pause/resume
// -> stop/free) or pulls a decode channel (create -> read -> free). Several
// threads run the cycles at once, and between cycles each pokes at one stream
// they all share (play, pause, stop, free and replace) and at the volume,
// against the device thread. Every INTERVAL cycles it waits for released
// streams to fade out, then prints the open handles, the private bytes and
// the streams the library holds, now and at most since the last figures
// (peak, sampled between cycles). Handles and bytes must end no more than 5
// and 1 MB above their figures at the first INTERVAL, and no stream may be
// left over at any. The output may go away and come back meanwhile (soak.sh
// unloads the sink): a playing stream may then read as stalled.
//
//   soak DEVICE CYCLES INTERVAL FILE...
//
// Exit code: 0 when the figures stayed flat and every call did what it
// should, 1 when not, 2 for bad arguments.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "bass.h"
#include "diagnostics.h"
#include "process_figures.h"
#include "test_signals.h"

using audio_test::ProcessFigures;

namespace {

constexpr SIZE_T kMaxByteDrift = 1024 * 1024;
constexpr DWORD kMaxHandleDrift = 5;
constexpr int kMaxReportedFaults = 20;
// Threads that run the cycles at once.
constexpr long kThreads = 4;
// A thread waits while the library holds more streams than this (a few more
// than the first figures' interval holds anyway), for at most
// kMaxHeldWaitMs: released streams wait for their fade, and a mixer that is
// starved of CPU or has lost its output lets them pile up. The heap keeps
// its highest mark, which would then read as a leak.
constexpr size_t kMaxHeldStreams = 32;
constexpr int kMaxHeldWaitMs = 20000;
// Floats pulled from a decode channel at a time.
constexpr size_t kDecodeBlock = 4096;

std::atomic<int> faults{0};
// Times a playing stream read as stalled: the output was gone then.
std::atomic<long> stalls_seen{0};
// The most streams the library held at once since the last figures.
std::atomic<size_t> peak_streams{0};
// The stream every thread pokes at; a thread that frees it puts a new one in its place.
std::atomic<HSTREAM> shared_stream{0};

// Counts a call that did not do what it should; reports the first few.
void expect(bool ok, const char* what, long cycle, const char* path) {
    if (ok) return;
    if (++faults <= kMaxReportedFaults)
        std::fprintf(stderr, "soak: cycle %ld, %s: %s (error %d)\n", cycle, path, what, BASS_ErrorGetCode());
}

// A file to cycle over, with its bytes for the cycles that play from memory.
struct SoakFile {
    const char* path;
    std::vector<uint8_t> bytes;
};

std::vector<SoakFile> read_files(char** paths, int count) {
    std::vector<SoakFile> files;
    for (int i = 0; i < count; ++i) files.push_back({paths[i], audio_test::read_file(paths[i])});
    return files;
}

HSTREAM create(const SoakFile& file, bool from_memory, DWORD flags) {
    if (from_memory) return BASS_StreamCreateFile(TRUE, file.bytes.data(), 0, DWORD(file.bytes.size()), flags);
    return BASS_StreamCreateFile(FALSE, file.path, 0, 0, flags);
}

// One cycle over one file. `variant` picks what the cycle does, so that every
// file meets each: auto-free or not, from the file or from memory, a restart,
// time for the mixer to decode, and now and then a stream left to play to its
// end and free itself (early on, so that the first figures hold the memory
// that several such streams take at once).
void run_play_cycle(const SoakFile& file, long cycle, long variant) {
    const char* path = file.path;
    bool auto_free = variant % 2 == 1;
    HSTREAM stream = create(file, (variant / 2) % 2 == 1, auto_free ? BASS_STREAM_AUTOFREE : 0);
    expect(stream != 0, "create failed", cycle, path);
    if (stream == 0) return;
    expect(BASS_ChannelPlay(stream, FALSE), "play failed", cycle, path);
    if (auto_free && variant % 50 == 1) return;  // the library frees it at its end
    if (variant % 10 == 0) Sleep(20);             // two periods of the mixer
    expect(BASS_ChannelPause(stream), "pause failed", cycle, path);
    expect(BASS_ChannelIsActive(stream) == BASS_ACTIVE_PAUSED, "not paused", cycle, path);
    expect(BASS_ChannelPlay(stream, FALSE), "resume failed", cycle, path);
    if (variant % 3 == 0) expect(BASS_ChannelPlay(stream, TRUE), "restart failed", cycle, path);
    DWORD state = BASS_ChannelIsActive(stream);
    expect(state == BASS_ACTIVE_PLAYING || state == BASS_ACTIVE_STALLED, "not playing", cycle, path);
    if (state == BASS_ACTIVE_STALLED) ++stalls_seen;
    expect(BASS_ChannelStop(stream), "stop failed", cycle, path);
    // Stopping an auto-free stream releases it: its handle is stale after.
    BOOL freed = BASS_StreamFree(stream);
    if (auto_free)
        expect(!freed && BASS_ErrorGetCode() == BASS_ERROR_HANDLE, "handle outlived stop", cycle, path);
    else
        expect(freed, "free failed", cycle, path);
}

// One cycle of a decode channel, pulled and never played: Play is refused,
// a few blocks are read (now and then the whole file), and the channel is
// freed. Reading may end early, with BASS_ERROR_ENDED, but not at once.
void run_decode_cycle(const SoakFile& file, long cycle, long variant) {
    const char* path = file.path;
    HSTREAM stream = create(file, (variant / 2) % 2 == 1, BASS_STREAM_DECODE);
    expect(stream != 0, "create of a decode channel failed", cycle, path);
    if (stream == 0) return;
    expect(!BASS_ChannelPlay(stream, FALSE) && BASS_ErrorGetCode() == BASS_ERROR_DECODE,
           "a decode channel played", cycle, path);
    std::vector<float> block(kDecodeBlock);
    auto pull = [&] { return BASS_ChannelGetData(stream, block.data(), DWORD(block.size() * sizeof(float))); };
    DWORD got = pull();
    expect(got != DWORD(-1), "nothing decoded", cycle, path);
    bool to_the_end = variant % 20 == 7;
    for (int read = 1; got != DWORD(-1) && (to_the_end || read < 4); ++read) got = pull();
    expect(got != DWORD(-1) || BASS_ErrorGetCode() == BASS_ERROR_ENDED, "decode failed", cycle, path);
    expect(BASS_StreamFree(stream), "free of a decode channel failed", cycle, path);
}

// One cycle over one file: a decode channel every fifth pass over the
// files, a played stream otherwise.
void run_cycle(const SoakFile& file, long cycle, long variant) {
    if (variant % 5 == 2)
        run_decode_cycle(file, cycle, variant);
    else
        run_play_cycle(file, cycle, variant);
}

// One call on the stream all threads share, or on the volume. Another
// thread may have freed the stream or stopped it meanwhile, so a stale
// handle and a pause of a stream not playing are fine; anything else is not.
void poke_shared_stream(const SoakFile& file, long cycle, unsigned pick) {
    HSTREAM stream = shared_stream.load();
    BOOL ok = TRUE;
    switch (pick % 6) {
        case 0: ok = BASS_ChannelPlay(stream, FALSE); break;
        case 1: ok = BASS_ChannelPlay(stream, TRUE); break;
        case 2: ok = BASS_ChannelPause(stream); break;
        case 3: ok = BASS_ChannelStop(stream); break;
        case 4: ok = BASS_SetVolume(pick % 101); break;
        default: {
            HSTREAM fresh = create(file, false, 0);
            expect(fresh != 0, "create of the shared stream failed", cycle, file.path);
            if (!shared_stream.compare_exchange_strong(stream, fresh)) stream = fresh;
            ok = BASS_StreamFree(stream);  // the one it replaced, or its own when too late
        }
    }
    int error = ok ? BASS_OK : BASS_ErrorGetCode();
    expect(ok || error == BASS_ERROR_HANDLE || error == BASS_ERROR_NOPLAY, "call on the shared stream failed",
           cycle, file.path);
}

// Keeps peak_streams up to date with the streams held now, and waits while
// they are too many.
void note_streams_held() {
    size_t held = audio::library_stream_count();
    size_t peak = peak_streams.load();
    while (held > peak && !peak_streams.compare_exchange_weak(peak, held)) {
    }
    for (int waited = 0; held > kMaxHeldStreams && waited < kMaxHeldWaitMs; waited += 10) {
        Sleep(10);
        held = audio::library_stream_count();
    }
}

// Runs cycles first..last over kThreads threads at once, each poking at the
// shared stream between its cycles; frees that stream after.
void run_cycles_in_threads(long first, long last, const std::vector<SoakFile>& files) {
    auto file_of = [&files](long cycle) -> const SoakFile& { return files[size_t(cycle) % files.size()]; };
    shared_stream = create(file_of(first), false, 0);
    BASS_ChannelPlay(shared_stream, FALSE);
    std::vector<std::thread> threads;
    for (long thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
            for (long cycle = first + thread; cycle <= last; cycle += kThreads) {
                run_cycle(file_of(cycle), cycle, cycle / long(files.size()));
                poke_shared_stream(file_of(cycle + 1), cycle, unsigned(cycle * 7 + thread));
                note_streams_held();
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    BASS_StreamFree(shared_stream.exchange(0));
}

// Gives released streams time to fade out and ended ones to be let go; a
// stream left to play to its end may take the length of the longest file.
void wait_for_streams_to_go() {
    for (int i = 0; i < 1500 && audio::library_stream_count() > 0; ++i) Sleep(10);
}

void print_header() {
    audio_test::measure_process();
    std::printf("%s\n%8s %8s %12s %8s %8s\n", audio_test::figure_sources(), "cycles", "handles", "private_kb",
                "streams", "peak");
}

void print_figures(long cycles, const ProcessFigures& figures, const char* verdict) {
    std::printf("%8ld %8lu %12lu %8lu %8lu  %s\n", cycles, static_cast<unsigned long>(figures.handles),
                static_cast<unsigned long>(figures.private_bytes / 1024),
                static_cast<unsigned long>(figures.streams), static_cast<unsigned long>(peak_streams.exchange(0)),
                verdict);
    std::fflush(stdout);
}

// Runs the cycles; returns whether the figures stayed flat. The last
// figures decide: while the output goes away and comes back, the sound
// system's own buffers come and go too, and a few megabytes above the first
// figures that are gone again by the next interval are no leak. Any stream
// left over counts at every interval.
bool soak(long cycles, long interval, const std::vector<SoakFile>& files) {
    print_figures(0, audio_test::measure_process(), "(start)");
    ProcessFigures base;
    bool flat = true;
    for (long cycle = interval; cycle <= cycles; cycle += interval) {
        run_cycles_in_threads(cycle - interval + 1, cycle, files);
        wait_for_streams_to_go();
        ProcessFigures now = audio_test::measure_process();
        if (cycle == interval) base = now;
        const char* why = audio_test::not_flat_because(base, now, kMaxByteDrift, kMaxHandleDrift);
        print_figures(cycle, now, why ? why : (cycle == interval ? "(base)" : "flat"));
        if (why && (now.streams != 0 || cycle + interval > cycles)) flat = false;
    }
    return flat;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: soak DEVICE CYCLES INTERVAL FILE...\n");
        return 2;
    }
    int device = std::atoi(argv[1]);
    long cycles = std::atol(argv[2]);
    long interval = std::atol(argv[3]);
    if (cycles <= 0 || interval <= 0) {
        std::fprintf(stderr, "soak: CYCLES and INTERVAL must be positive\n");
        return 2;
    }
    std::vector<SoakFile> files = read_files(argv + 4, argc - 4);
    if (!BASS_Init(device, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "soak: BASS_Init(%d) failed with error %d\n", device, BASS_ErrorGetCode());
        return 1;
    }
    std::printf("soak: device %d, %ld cycles over %zu files in %ld threads, figures every %ld\n", device,
                cycles, files.size(), kThreads, interval);
    print_header();
    DWORD start = GetTickCount();
    bool flat = soak(cycles, interval, files);
    BASS_Free();
    std::printf("soak: %s, %d failed calls, %ld streams seen stalled, %.1f s\n", flat ? "flat" : "NOT flat",
                faults.load(), stalls_seen.load(), (GetTickCount() - start) / 1000.0);
    return flat && faults == 0 ? 0 : 1;
}
