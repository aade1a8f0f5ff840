// A recording stand-in for our audio library, linked into tests in place of
// the real one. Each BASS_* call the sound module makes is recorded as text
// with its exact arguments, e.g. BASS_ChannelPlay(7, FALSE), in call order.
// Results are scripted per function; unscripted calls return TRUE, and
// BASS_StreamCreateFile and BASS_GetVolume return 0.
#ifndef TESTS_FAKE_AUDIO_H
#define TESTS_FAKE_AUDIO_H

#include <string>
#include <vector>

#include "bass.h"

namespace fake_audio {

// Forgets the recorded calls and every scripted result.
void Reset();

// The calls recorded since the last Reset, oldest first.
std::vector<std::string> Calls();

// Queues `result` as the value that the next call of `function` (a name such
// as "BASS_StreamCreateFile") returns; later scripts for it queue behind.
void ScriptResult(const std::string& function, DWORD result);

}  // namespace fake_audio

#endif
