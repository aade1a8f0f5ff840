// The sound module: one stream at a time over our audio library. It keeps the
// current stream's handle and the name of the last file that loaded, so that
// Stop can rewind by re-creating the stream from that file.
#ifndef SOUND_SOUND_H
#define SOUND_SOUND_H

#include "bass.h"

// Brings the audio library up on the first real device at 44100 Hz.
BOOL Sound_Init(void);
// Takes the audio library down, and with it every stream left.
BOOL Sound_Free(void);
// Sets the output volume, a percentage 0..100, passed on unchanged.
BOOL Sound_SetVolume(int volume);
// The library's current output volume.
DWORD Sound_GetVolume(void);
// Replaces the current stream with one of `name`; returns it (0 = failure).
HSTREAM Sound_LoadFile(const char* name);
// Plays the current stream, resuming where a pause left it.
BOOL Sound_Play(void);
// Pauses the current stream.
BOOL Sound_Pause(void);
// Stops the current stream and re-creates it from the last good file, so the
// next Play starts that file from its beginning; returns the stop's result.
BOOL Sound_Stop(void);

#endif
