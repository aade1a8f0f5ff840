// The sound module's eight procedures over its module-wide state.
#include "sound.h"

#include <string.h>
#include <windows.h>

// Fixed settings of the output: the first real device (not the default
// device), at CD rate, with no special flags.
static const int kOutputDevice = 1;
static const DWORD kOutputFrequency = 44100;

// Handle of the current stream; 0 means none.
static HSTREAM streamHandle;
// Path of the last file whose stream was created; empty until one loads.
static char loadedFileName[MAX_PATH];

// Opens `file` (a narrow path, or null) as a whole-file stream that the
// library releases by itself once it is stopped or has played to its end.
static HSTREAM CreateFileStream(const char* file)
{
    return BASS_StreamCreateFile(FALSE, file, 0, 0, BASS_STREAM_AUTOFREE);
}

// Brings the library up: first real device, 44100 Hz, no flags.
BOOL Sound_Init(void)
{
    return BASS_Init(kOutputDevice, kOutputFrequency, 0, NULL, NULL);
}

// Takes the library down, releasing every stream left.
BOOL Sound_Free(void)
{
    return BASS_Free();
}

// Applies a volume percentage unchanged.
BOOL Sound_SetVolume(int volume)
{
    return BASS_SetVolume((DWORD)volume);
}

// Reads the library's volume percentage.
DWORD Sound_GetVolume(void)
{
    return BASS_GetVolume();
}

// Makes `name` the current stream and, when it opens, the last good file.
HSTREAM Sound_LoadFile(const char* name)
{
    // The stream about to be superseded would otherwise stay with the library,
    // holding its file open, until Sound_Free. Releasing a stream that the
    // library has already freed (stopped or ended) just fails harmlessly.
    if (streamHandle != 0)
        BASS_StreamFree(streamHandle);

    // An empty name goes to the library as a null pointer, not as "".
    const bool nameIsEmpty = name == NULL || name[0] == '\0';
    streamHandle = CreateFileStream(nameIsEmpty ? NULL : name);
    if (streamHandle != 0) {
        // Longer paths are remembered by their first MAX_PATH - 1 characters.
        strncpy(loadedFileName, nameIsEmpty ? "" : name, MAX_PATH - 1);
        loadedFileName[MAX_PATH - 1] = '\0';
    }
    return streamHandle;
}

// Plays (or resumes) the current stream.
BOOL Sound_Play(void)
{
    // restart FALSE: a paused stream resumes where it was paused.
    return BASS_ChannelPlay(streamHandle, FALSE);
}

// Pauses the current stream.
BOOL Sound_Pause(void)
{
    return BASS_ChannelPause(streamHandle);
}

// Stops and rewinds: a fresh stream of the last good file.
BOOL Sound_Stop(void)
{
    // The stop releases the auto-free stream; re-creating it from the last
    // good file is what rewinds. It runs even when the stop failed, and with
    // nothing loaded yet it passes the empty name itself (never a null).
    const BOOL stopped = BASS_ChannelStop(streamHandle);
    streamHandle = CreateFileStream(loadedFileName);
    return stopped;
}
