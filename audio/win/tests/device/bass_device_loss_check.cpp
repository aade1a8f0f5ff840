// The library while its output device goes away and comes back, for
// device_loss_test.sh, which removes and restores the sound server's sink.
// Plays FILE (an auto-free stream) and logs every change of the stream's
// state with the time and position; checks the calls' results meanwhile.
//
//   bass_device_loss_check resume DEVICE FILE   stalled: Pause, then Play; then
//                                               play on 3.5 s once the output is back
//   bass_device_loss_check free DEVICE FILE     stalled for 2 s: BASS_Free, timed
//   DEVICE: 1 (the first real output) or -1 (the default one)
//
// Lines: "state NAME UNIX_TIME POSITION_S", "figure NAME VALUE UNIT".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bass.h"
#include "check_expect.h"
#include "event_log.h"
#include "test_signals.h"

using audio_test::expect;
using audio_test::log_figure;
using audio_test::unix_time_now;

namespace {

HSTREAM stream = 0;
DWORD rate = 0;

double position_seconds() { return static_cast<double>(BASS_ChannelGetPosition(stream)) / rate; }

const char* state_name(DWORD state) {
    switch (state) {
        case BASS_ACTIVE_PLAYING: return "playing";
        case BASS_ACTIVE_STALLED: return "stalled";
        case BASS_ACTIVE_PAUSED: return "paused";
        default: return "stopped";
    }
}

void log_state(DWORD state) {
    std::printf("state %s %.6f %.4f\n", state_name(state), unix_time_now(), position_seconds());
    std::fflush(stdout);
}

// Polls the stream every 5 ms until it reports `wanted`, logging each change;
// false after `seconds`.
bool wait_for_state(DWORD wanted, double seconds) {
    static DWORD last = DWORD(-1);
    double give_up = unix_time_now() + seconds;
    for (;;) {
        DWORD state = BASS_ChannelIsActive(stream);
        if (state != last) log_state(state);
        last = state;
        if (state == wanted) return true;
        if (unix_time_now() > give_up) return false;
        Sleep(5);
    }
}

// While stalled: the position holds, Pause and Play still work.
void check_calls_while_stalled() {
    double held = position_seconds();
    // The process's CPU time moves in 10 ms ticks under Wine: over 600 ms one
    // tick is 1.7 % of a core, so two stray ticks no longer read as a busy loop.
    double cpu_before = audio_test::process_cpu_seconds();
    Sleep(600);
    log_figure("cpu_while_stalled", (audio_test::process_cpu_seconds() - cpu_before) / 0.6 * 100, "percent");
    expect(position_seconds() == held, "the position moved while the output was gone");
    expect(BASS_ChannelPause(stream) == TRUE, "BASS_ChannelPause failed while stalled");
    expect(BASS_ChannelIsActive(stream) == BASS_ACTIVE_PAUSED, "not paused after Pause while stalled");
    Sleep(100);
    expect(BASS_ChannelPlay(stream, FALSE) == TRUE, "BASS_ChannelPlay failed while stalled");
    DWORD state = BASS_ChannelIsActive(stream);
    // The output may have come back in the meantime.
    expect(state == BASS_ACTIVE_STALLED || state == BASS_ACTIVE_PLAYING, "Play while stalled");
    expect(position_seconds() == held, "the position moved while the output was gone");
}

// Waits out the loss and the return of the output; the stream plays on from
// where it stopped.
void play_through_the_loss() {
    double stalled_at = position_seconds();
    check_calls_while_stalled();
    if (!wait_for_state(BASS_ACTIVE_PLAYING, 20)) {
        expect(false, "playback did not resume once the output was back");
        return;
    }
    // A null sink that was just loaded runs up to two seconds ahead of its
    // clock, and takes sound only once real time has caught up with it.
    Sleep(3500);
    double played = position_seconds() - stalled_at;
    log_figure("played_after_resume", played * 1000, "ms");
    expect(played > 1.0 && played < 3.6, "the position did not run on from where it stalled");
    expect(BASS_ChannelStop(stream) == TRUE, "BASS_ChannelStop failed");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4 || (std::strcmp(argv[1], "resume") != 0 && std::strcmp(argv[1], "free") != 0)) {
        std::fprintf(stderr, "usage: bass_device_loss_check resume|free DEVICE FILE\n");
        return 2;
    }
    bool resume = std::strcmp(argv[1], "resume") == 0;
    const char* path = argv[3];
    if (!BASS_Init(std::atoi(argv[2]), 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "bass_device_loss_check: BASS_Init failed with error %d\n", BASS_ErrorGetCode());
        return 1;
    }
    stream = BASS_StreamCreateFile(FALSE, path, 0, 0, BASS_STREAM_AUTOFREE);
    BASS_CHANNELINFO info = {};
    if (stream == 0 || !BASS_ChannelGetInfo(stream, &info)) {
        std::fprintf(stderr, "bass_device_loss_check: cannot play %s: error %d\n", path, BASS_ErrorGetCode());
        BASS_Free();
        return 1;
    }
    rate = info.freq;
    expect(BASS_ChannelPlay(stream, FALSE) == TRUE, "BASS_ChannelPlay failed");
    if (!wait_for_state(BASS_ACTIVE_STALLED, 20)) {
        expect(false, "the loss of the output was never reported");
    } else if (resume) {
        play_through_the_loss();
    } else {
        check_calls_while_stalled();
        Sleep(1500);
        expect(BASS_ChannelIsActive(stream) == BASS_ACTIVE_STALLED, "the stream is no longer stalled");
    }
    double free_start = unix_time_now();
    expect(BASS_Free() == TRUE, "BASS_Free failed");
    double free_ms = (unix_time_now() - free_start) * 1000;
    log_figure("free", free_ms, "ms");
    expect(free_ms < 200, "BASS_Free took longer than 200 ms");
    return audio_test::check_exit_code();
}
