// The whole library on the real device: a file of a known sine played at a
// set volume, paused, resumed and stopped through the public calls, for the
// capture test (record_test.sh). Each step is logged for the analyser; the
// calls' own results are checked here.
//
//   bass_play_check FILE FREQUENCY PEAK VOLUME
//   PEAK: the sine's peak in the file (0..1); VOLUME: percent for BASS_SetVolume
#include <windows.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "bass.h"
#include "check_expect.h"
#include "event_log.h"

using audio_test::expect;
using audio_test::log_event;
using audio_test::log_figure;
using audio_test::unix_time_now;

namespace {

double position_seconds(HSTREAM stream, DWORD rate) {
    return static_cast<double>(BASS_ChannelGetPosition(stream)) / rate;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: bass_play_check FILE FREQUENCY PEAK VOLUME\n");
        return 2;
    }
    const char* path = argv[1];
    double frequency = std::atof(argv[2]);
    double peak = std::atof(argv[3]);
    DWORD volume = static_cast<DWORD>(std::atoi(argv[4]));
    double heard_peak = peak * volume / 100.0;

    audio_test::log_tone(frequency);
    log_event("init", 0);
    double init_start = unix_time_now();
    if (!BASS_Init(1, 44100, 0, nullptr, nullptr)) {
        std::fprintf(stderr, "bass_play_check: BASS_Init failed with error %d\n", BASS_ErrorGetCode());
        return 1;
    }
    log_figure("init", (unix_time_now() - init_start) * 1000, "ms");
    expect(BASS_SetVolume(volume) == TRUE, "BASS_SetVolume failed");
    expect(BASS_GetVolume() == volume, "BASS_GetVolume does not return the volume set");

    double create_start = unix_time_now();
    HSTREAM stream = BASS_StreamCreateFile(FALSE, path, 0, 0, BASS_STREAM_AUTOFREE);
    if (stream == 0) {
        std::fprintf(stderr, "bass_play_check: cannot create a stream of %s: error %d\n", path,
                     BASS_ErrorGetCode());
        BASS_Free();
        return 1;
    }
    log_figure("create", (unix_time_now() - create_start) * 1000, "ms");
    BASS_CHANNELINFO info = {};
    expect(BASS_ChannelGetInfo(stream, &info) == TRUE, "BASS_ChannelGetInfo failed");
    Sleep(200);  // a created stream makes no sound

    log_event("play", heard_peak);
    expect(BASS_ChannelPlay(stream, FALSE) == TRUE, "BASS_ChannelPlay failed");
    Sleep(700);

    log_event("pause", 0);
    expect(BASS_ChannelPause(stream) == TRUE, "BASS_ChannelPause failed");
    expect(BASS_ChannelIsActive(stream) == BASS_ACTIVE_PAUSED, "the stream is not paused");
    Sleep(100);  // let the ramp out finish before reading where it stopped
    double paused_at = position_seconds(stream, info.freq);
    Sleep(200);
    expect(std::fabs(position_seconds(stream, info.freq) - paused_at) < 0.001,
           "the position moves while paused");

    log_event("resume", heard_peak);
    expect(BASS_ChannelPlay(stream, FALSE) == TRUE, "BASS_ChannelPlay (resume) failed");
    Sleep(500);
    double played = position_seconds(stream, info.freq) - paused_at;
    log_figure("played_after_resume", played * 1000, "ms");
    // The position runs on from the pause (about 0.5 s more), not from 0.
    expect(played > 0.35 && played < 0.65, "the position did not resume from the pause");

    log_event("stop", 0);
    expect(BASS_ChannelStop(stream) == TRUE, "BASS_ChannelStop failed");
    Sleep(300);
    // An auto-free stream is gone once stopped.
    expect(BASS_ChannelIsActive(stream) == BASS_ACTIVE_STOPPED, "the stopped stream is still active");
    expect(BASS_ChannelPlay(stream, FALSE) == FALSE && BASS_ErrorGetCode() == BASS_ERROR_HANDLE,
           "the auto-free stream was not released by stop");

    double free_start = unix_time_now();
    expect(BASS_Free() == TRUE, "BASS_Free failed");
    double free_ms = (unix_time_now() - free_start) * 1000;
    log_figure("free", free_ms, "ms");
    log_event("freed", 0);
    expect(free_ms < 200, "BASS_Free took longer than 200 ms");
    return audio_test::check_exit_code();
}
