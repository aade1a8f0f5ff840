// Public interface of our audio library: streams decoded from WAV, MP3 and
// Ogg Vorbis files, mixed to a stereo output device at a fixed rate.
//
// Every call is safe from any thread. Failures return FALSE, 0 or -1 and set
// an error code that BASS_ErrorGetCode reads back on the same thread.
#ifndef AUDIO_BASS_H
#define AUDIO_BASS_H

#include <stdint.h>

#ifdef _WIN32
#include <windows.h>
#define BASSAPI WINAPI
#else
// The portable core builds natively on Linux for sanitizers and fuzzing.
typedef int BOOL;
typedef uint32_t DWORD;
typedef void* HWND;
typedef struct _GUID GUID;
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif
#define BASSAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t QWORD;
typedef DWORD HSTREAM;  // stream handle; 0 means no stream

// Error codes (BASS_ErrorGetCode).
#define BASS_OK              0
#define BASS_ERROR_MEM       1   // out of memory
#define BASS_ERROR_FILEOPEN  2   // the file cannot be opened
#define BASS_ERROR_DRIVER    3   // no usable output driver
#define BASS_ERROR_HANDLE    5   // invalid (or already released) handle
#define BASS_ERROR_FORMAT    6   // output format not supported (bad rate)
#define BASS_ERROR_INIT      8   // BASS_Init has not been called
#define BASS_ERROR_START     9   // the output device failed to start
#define BASS_ERROR_ALREADY   14  // already initialised
#define BASS_ERROR_ILLPARAM  20  // an illegal parameter
#define BASS_ERROR_DEVICE    23  // no such output device
#define BASS_ERROR_NOPLAY    24  // the channel is not playing
#define BASS_ERROR_FILEFORM  41  // unsupported or invalid file format
#define BASS_ERROR_DECODE    38  // not allowed on a decode channel
#define BASS_ERROR_ENDED     45  // a decode channel has reached its end
#define BASS_ERROR_UNKNOWN   -1

// BASS_Init devices: 0 = no sound (output discarded), 1 = first real device,
// -1 = the system's default device.
#define BASS_DEVICE_NOSOUND  0
#define BASS_DEVICE_DEFAULT  -1

// BASS_StreamCreateFile flags.
#define BASS_STREAM_AUTOFREE 0x40000   // released when stopped or ended
#define BASS_STREAM_DECODE   0x200000  // never played; pulled with BASS_ChannelGetData

// BASS_ChannelIsActive results.
#define BASS_ACTIVE_STOPPED  0   // not started, stopped, or ended
#define BASS_ACTIVE_PLAYING  1
#define BASS_ACTIVE_STALLED  2   // playing, but the output device is gone; resumes when it is back
#define BASS_ACTIVE_PAUSED   3

// BASS_ChannelGetInfo ctype values: the container/codec the content was found to be.
#define BASS_CTYPE_WAV_PCM    1   // integer PCM
#define BASS_CTYPE_WAV_FLOAT  2   // IEEE float
#define BASS_CTYPE_WAV_CODEC  3   // compressed WAV through a system codec
#define BASS_CTYPE_MP3        4
#define BASS_CTYPE_OGG        5

typedef struct BASS_CHANNELINFO {
    DWORD freq;   // the stream's own sample rate
    DWORD chans;  // the stream's own channel count
    DWORD flags;  // creation flags
    DWORD ctype;  // BASS_CTYPE_*
} BASS_CHANNELINFO;

BOOL    BASSAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* clsid);
BOOL    BASSAPI BASS_Free(void);
BOOL    BASSAPI BASS_SetVolume(DWORD volume);   // percent 0..100
DWORD   BASSAPI BASS_GetVolume(void);           // percent, or (DWORD)-1 on error
int     BASSAPI BASS_ErrorGetCode(void);

// mem FALSE: file is a narrow (ANSI) path; mem TRUE: file points to `length`
// bytes that must stay valid for the stream's life. offset/length select a
// section of the file (0/0 = all of it).
HSTREAM BASSAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags);
BOOL    BASSAPI BASS_StreamFree(HSTREAM handle);

BOOL    BASSAPI BASS_ChannelPlay(DWORD handle, BOOL restart);
BOOL    BASSAPI BASS_ChannelPause(DWORD handle);
BOOL    BASSAPI BASS_ChannelStop(DWORD handle);

// Observation, for tests and tools.
DWORD   BASSAPI BASS_ChannelIsActive(DWORD handle);  // BASS_ACTIVE_*; STOPPED for invalid handles (error set)
QWORD   BASSAPI BASS_ChannelGetPosition(DWORD handle);  // frames at the stream's own rate, or (QWORD)-1
BOOL    BASSAPI BASS_ChannelGetInfo(DWORD handle, BASS_CHANNELINFO* info);

// Decode channels: fills `buffer` with up to `length` bytes of interleaved
// 32-bit float samples at the stream's own rate and channel count. Returns the
// bytes written (0 only for length 0), or (DWORD)-1 with BASS_ERROR_ENDED at the end.
DWORD   BASSAPI BASS_ChannelGetData(DWORD handle, void* buffer, DWORD length);

#ifdef __cplusplus
}
#endif

#endif
