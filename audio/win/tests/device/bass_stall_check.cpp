// Playback from a file whose storage stalls, for stall_test.sh: arms one
// read of FILE, the one that reaches STALL_AT seconds of its sound, to hang
// for STALL_MS, plays FILE (and OTHER beside it, from memory, when given)
// for SECONDS on the first real output, then logs what the library counted.
//
//   bass_stall_check FILE STALL_AT STALL_MS SECONDS [OTHER]
//   FILE: a 16-bit stereo 44.1 kHz WAV with a 44-byte header
//
// Lines: "event play UNIX_TIME PEAK", "figure NAME VALUE UNIT".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bass.h"
#include "check_expect.h"
#include "diagnostics.h"
#include "event_log.h"
#include "test_signals.h"

using audio_test::expect;
using audio_test::log_event;
using audio_test::log_figure;

int main(int argc, char** argv) {
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: bass_stall_check FILE STALL_AT STALL_MS SECONDS [OTHER]\n");
        return 2;
    }
    const uint64_t kHeaderBytes = 44, kFrameBytes = 4;
    uint64_t stall_byte = kHeaderBytes + uint64_t(std::atof(argv[2]) * 44100) * kFrameBytes;
    unsigned stall_ms = unsigned(std::atoi(argv[3]));
    DWORD play_ms = DWORD(std::atof(argv[4]) * 1000);
    std::vector<uint8_t> other_bytes = argc == 6 ? audio_test::read_file(argv[5]) : std::vector<uint8_t>();

    if (!BASS_Init(1, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "bass_stall_check: BASS_Init failed with error %d\n", BASS_ErrorGetCode());
        return 1;
    }
    audio::stall_file_read(stall_byte, stall_ms);
    HSTREAM stream = BASS_StreamCreateFile(FALSE, argv[1], 0, 0, 0);
    expect(stream != 0, "cannot create the stream of FILE");
    HSTREAM other = 0;
    if (!other_bytes.empty()) {
        other = BASS_StreamCreateFile(TRUE, other_bytes.data(), 0, DWORD(other_bytes.size()), 0);
        expect(other != 0, "cannot create the stream of OTHER");
    }
    log_event("play", 0.5);
    expect(BASS_ChannelPlay(stream, FALSE) == TRUE, "BASS_ChannelPlay failed");
    if (other) expect(BASS_ChannelPlay(other, FALSE) == TRUE, "BASS_ChannelPlay (other) failed");
    Sleep(play_ms);
    log_figure("position", double(BASS_ChannelGetPosition(stream)) / 44100, "s");
    log_figure("underruns", double(audio::library_underrun_count()), "count");
    log_event("freed", 0);
    expect(BASS_Free() == TRUE, "BASS_Free failed");
    return audio_test::check_exit_code();
}
