// The sound module against the recording stand-in for the audio library:
// which library calls each procedure makes, with which arguments, in which
// order, and what the module remembers between calls.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_audio.h"
#include "sound.h"

namespace {

using Calls = std::vector<std::string>;

const char* const kCreate = "BASS_StreamCreateFile";

// What the first Sound_Stop of the process did, seen before any test could
// load a file: the module's start state can be observed only once.
struct FirstStop {
    BOOL result;
    Calls calls;
    Calls playAfterwards;
};

FirstStop StopInStartState()
{
    fake_audio::Reset();
    fake_audio::ScriptResult("BASS_ChannelStop", FALSE);
    FirstStop first;
    first.result = Sound_Stop();
    first.calls = fake_audio::Calls();
    fake_audio::Reset();
    fake_audio::ScriptResult("BASS_ChannelPlay", FALSE);
    Sound_Play();
    first.playAfterwards = fake_audio::Calls();
    return first;
}

const FirstStop kFirstStop = StopInStartState();

// Each test starts with no current stream and an empty record. The last good
// file is whatever an earlier test left; tests that rely on it load one.
class SoundModule : public testing::Test {
protected:
    void SetUp() override
    {
        fake_audio::Reset();
        Sound_LoadFile("");
        fake_audio::Reset();
    }

    // Loads `name` with the library handing out `handle` (0 = cannot open).
    HSTREAM Load(const std::string& name, HSTREAM handle)
    {
        fake_audio::ScriptResult(kCreate, handle);
        return Sound_LoadFile(name.c_str());
    }

    static std::string Create(const std::string& quotedFile)
    {
        return "BASS_StreamCreateFile(FALSE, " + quotedFile + ", 0, 0, 0x40000)";
    }
};

TEST(SoundStartState, StopBeforeAnyLoadStopsHandleZeroAndRecreatesFromEmptyName)
{
    EXPECT_EQ(kFirstStop.calls, (Calls{"BASS_ChannelStop(0)", "BASS_StreamCreateFile(FALSE, \"\", 0, 0, 0x40000)"}));
    EXPECT_EQ(kFirstStop.result, FALSE);
    EXPECT_EQ(kFirstStop.playAfterwards, (Calls{"BASS_ChannelPlay(0, FALSE)"}));
}

TEST_F(SoundModule, InitFreeAndVolumePassTheirValuesAndReturnTheLibrarysResults)
{
    fake_audio::ScriptResult("BASS_Init", FALSE);
    EXPECT_EQ(Sound_Init(), FALSE);
    EXPECT_EQ(Sound_Init(), TRUE);
    EXPECT_EQ(Sound_SetVolume(60), TRUE);
    Sound_SetVolume(0);
    fake_audio::ScriptResult("BASS_SetVolume", FALSE);
    EXPECT_EQ(Sound_SetVolume(100), FALSE);
    fake_audio::ScriptResult("BASS_GetVolume", 42);
    EXPECT_EQ(Sound_GetVolume(), 42u);
    fake_audio::ScriptResult("BASS_Free", FALSE);
    EXPECT_EQ(Sound_Free(), FALSE);

    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_Init(1, 44100, 0x0, NULL, NULL)",
                                       "BASS_Init(1, 44100, 0x0, NULL, NULL)",
                                       "BASS_SetVolume(60)",
                                       "BASS_SetVolume(0)",
                                       "BASS_SetVolume(100)",
                                       "BASS_GetVolume()",
                                       "BASS_Free()",
                                   }));
}

TEST_F(SoundModule, LoadCreatesAnAutoFreeStreamOfTheWholeFileAndReturnsItsHandle)
{
    EXPECT_EQ(Load("C:\\music\\a.wav", 7), 7u);
    EXPECT_EQ(fake_audio::Calls(), (Calls{Create("\"C:\\music\\a.wav\"")}));
}

TEST_F(SoundModule, PlayAndPauseForwardTheCurrentHandleAndNeverRestart)
{
    Load("a.wav", 7);
    fake_audio::Reset();
    fake_audio::ScriptResult("BASS_ChannelPause", FALSE);

    EXPECT_EQ(Sound_Play(), TRUE);
    EXPECT_EQ(Sound_Play(), TRUE);
    EXPECT_EQ(Sound_Pause(), FALSE);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelPlay(7, FALSE)",
                                       "BASS_ChannelPlay(7, FALSE)",
                                       "BASS_ChannelPause(7)",
                                   }));
}

TEST_F(SoundModule, EmptyNameGoesToTheLibraryAsNullAndKeepsTheLastGoodFile)
{
    Load("good.wav", 7);
    fake_audio::Reset();

    EXPECT_EQ(Sound_LoadFile(""), 0u);
    Sound_Stop();
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_StreamFree(7)",
                                       Create("NULL"),
                                       "BASS_ChannelStop(0)",
                                       Create("\"good.wav\""),
                                   }));
}

TEST_F(SoundModule, FailedLoadLeavesNoStreamAndStopRecreatesThePreviousGoodFile)
{
    Load("good.wav", 7);
    EXPECT_EQ(Load("missing.wav", 0), 0u);
    fake_audio::Reset();
    fake_audio::ScriptResult(kCreate, 8);

    Sound_Play();
    Sound_Stop();
    Sound_Play();
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelPlay(0, FALSE)",
                                       "BASS_ChannelStop(0)",
                                       Create("\"good.wav\""),
                                       "BASS_ChannelPlay(8, FALSE)",
                                   }));
}

TEST_F(SoundModule, StopRecreatesEvenWhenTheStopFailsAndReturnsTheStopsResult)
{
    Load("a.wav", 7);
    fake_audio::Reset();
    fake_audio::ScriptResult("BASS_ChannelStop", FALSE);
    fake_audio::ScriptResult(kCreate, 8);
    fake_audio::ScriptResult(kCreate, 0);

    EXPECT_EQ(Sound_Stop(), FALSE);  // the re-create succeeded, yet the stop's FALSE comes back
    EXPECT_EQ(Sound_Stop(), TRUE);   // the re-create failed, yet the stop's TRUE comes back
    Sound_Play();
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelStop(7)",
                                       Create("\"a.wav\""),
                                       "BASS_ChannelStop(8)",
                                       Create("\"a.wav\""),
                                       "BASS_ChannelPlay(0, FALSE)",
                                   }));
}

TEST_F(SoundModule, LoadReleasesTheStreamItSupersedes)
{
    Load("a.wav", 7);
    Load("b.wav", 8);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       Create("\"a.wav\""),
                                       "BASS_StreamFree(7)",
                                       Create("\"b.wav\""),
                                   }));
}

TEST_F(SoundModule, OpenAfterStopReleasesTheStreamThatTheStopRecreated)
{
    // The dialog's Open: Stop (which re-creates the old file) then Load.
    Load("a.wav", 7);
    fake_audio::Reset();
    fake_audio::ScriptResult(kCreate, 8);
    Sound_Stop();
    EXPECT_EQ(Load("b.wav", 9), 9u);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelStop(7)",
                                       Create("\"a.wav\""),
                                       "BASS_StreamFree(8)",
                                       Create("\"b.wav\""),
                                   }));
}

TEST_F(SoundModule, NoReleaseWithoutAStreamAndAFailedReleaseDoesNotStopTheLoad)
{
    EXPECT_EQ(Load("a.wav", 7), 7u);  // handle 0 before: nothing to release
    fake_audio::ScriptResult("BASS_StreamFree", FALSE);  // the library freed it already
    EXPECT_EQ(Load("b.wav", 8), 8u);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       Create("\"a.wav\""),
                                       "BASS_StreamFree(7)",
                                       Create("\"b.wav\""),
                                   }));
}

TEST_F(SoundModule, LongNameOpensWholeButIsRememberedByItsFirst259Characters)
{
    const std::string name = "C:\\" + std::string(290, 'x') + ".wav";
    Load(name, 7);
    fake_audio::Reset();
    fake_audio::ScriptResult(kCreate, 8);
    Sound_Stop();

    const Calls calls = fake_audio::Calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1], Create("\"" + name.substr(0, 259) + "\""));

    fake_audio::Reset();
    Load(name, 9);
    EXPECT_EQ(fake_audio::Calls(), (Calls{"BASS_StreamFree(8)", Create("\"" + name + "\"")}));
}

TEST_F(SoundModule, NameOfExactly259CharactersIsRememberedWhole)
{
    const std::string name(259, 'y');
    Load(name, 7);
    fake_audio::Reset();
    Sound_Stop();
    EXPECT_EQ(fake_audio::Calls().at(1), Create("\"" + name + "\""));
}

}  // namespace
