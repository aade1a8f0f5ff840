// The recording stand-in: every BASS_* entry point the sound module uses,
// each appending one line of text to the record and returning its scripted
// result.
#include "fake_audio.h"

#include <stdio.h>

#include <deque>
#include <map>

namespace {

// Everything the stand-in remembers. Held in a function so that it is ready
// even for calls made while other files' statics are initialised.
struct Record {
    std::vector<std::string> calls;
    std::map<std::string, std::deque<DWORD>> scripted;
};

Record& TheRecord()
{
    static Record record;
    return record;
}

// Appends one call and returns the next scripted result of `function`, or
// `fallback` when none is queued.
DWORD Answer(const char* function, const std::string& arguments, DWORD fallback)
{
    Record& record = TheRecord();
    record.calls.push_back(std::string(function) + "(" + arguments + ")");
    std::deque<DWORD>& queue = record.scripted[function];
    if (queue.empty())
        return fallback;
    const DWORD result = queue.front();
    queue.pop_front();
    return result;
}

// Spells a value the way the record shows it.
std::string Number(long long value)
{
    return std::to_string(value);
}

std::string Hex(DWORD value)
{
    char text[16];
    snprintf(text, sizeof text, "0x%lX", (unsigned long)value);
    return text;
}

std::string Flag(BOOL value)
{
    return value == FALSE ? "FALSE" : value == TRUE ? "TRUE" : Number(value);
}

std::string Pointer(const void* value)
{
    return value == nullptr ? "NULL" : "ptr";
}

// A narrow path in quotes, or NULL for a null pointer.
std::string Path(const void* file)
{
    return file == nullptr ? "NULL" : "\"" + std::string(static_cast<const char*>(file)) + "\"";
}

}  // namespace

namespace fake_audio {

void Reset()
{
    TheRecord() = Record();
}

std::vector<std::string> Calls()
{
    return TheRecord().calls;
}

void ScriptResult(const std::string& function, DWORD result)
{
    TheRecord().scripted[function].push_back(result);
}

}  // namespace fake_audio

extern "C" {

BOOL BASSAPI BASS_Init(int device, DWORD freq, DWORD flags, HWND win, const GUID* clsid)
{
    return Answer("BASS_Init", Number(device) + ", " + Number(freq) + ", " + Hex(flags) + ", " +
                                   Pointer(win) + ", " + Pointer(clsid),
                  TRUE);
}

BOOL BASSAPI BASS_Free(void)
{
    return Answer("BASS_Free", "", TRUE);
}

BOOL BASSAPI BASS_SetVolume(DWORD volume)
{
    return Answer("BASS_SetVolume", Number(volume), TRUE);
}

DWORD BASSAPI BASS_GetVolume(void)
{
    return Answer("BASS_GetVolume", "", 0);
}

HSTREAM BASSAPI BASS_StreamCreateFile(BOOL mem, const void* file, DWORD offset, DWORD length, DWORD flags)
{
    const std::string where = mem ? Pointer(file) : Path(file);
    return Answer("BASS_StreamCreateFile", Flag(mem) + ", " + where + ", " + Number(offset) + ", " +
                                               Number(length) + ", " + Hex(flags),
                  0);
}

BOOL BASSAPI BASS_StreamFree(HSTREAM handle)
{
    return Answer("BASS_StreamFree", Number(handle), TRUE);
}

BOOL BASSAPI BASS_ChannelPlay(DWORD handle, BOOL restart)
{
    return Answer("BASS_ChannelPlay", Number(handle) + ", " + Flag(restart), TRUE);
}

BOOL BASSAPI BASS_ChannelPause(DWORD handle)
{
    return Answer("BASS_ChannelPause", Number(handle), TRUE);
}

BOOL BASSAPI BASS_ChannelStop(DWORD handle)
{
    return Answer("BASS_ChannelStop", Number(handle), TRUE);
}

}  // extern "C"
