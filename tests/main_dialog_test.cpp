// The main dialog procedure, run by the system's dialog manager on the real
// template, with the recording stand-in for the audio library and a scripted
// file chooser in place of the Open dialog.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include <string.h>

#include <algorithm>
#include <deque>
#include <string>
#include <vector>

#include "fake_audio.h"
#include "file_chooser.h"
#include "main_dialog.h"
#include "resource.h"

namespace {

// Registers the trackbar class before any dialog is created, as the entry does.
const bool kCommonControlsReady = (InitCommonControls(), true);

using Calls = std::vector<std::string>;

// The scripted chooser's answers, in order, and the owners it was given.
std::deque<std::string> chooserAnswers;
std::vector<HWND> chooserOwners;

}  // namespace

// Stands in for the Open dialog: hands out the next scripted answer.
std::string OpenFileDialog(HWND owner)
{
    chooserOwners.push_back(owner);
    if (chooserAnswers.empty())
        return std::string();
    const std::string answer = chooserAnswers.front();
    chooserAnswers.pop_front();
    return answer;
}

namespace {

std::string Create(const std::string& quotedFile)
{
    return "BASS_StreamCreateFile(FALSE, " + quotedFile + ", 0, 0, 0x40000)";
}

// The file every test has loaded last, and the stream it has while tests
// begin: none, with nothing selected.
const char* const kSetUpFile = "C:\\setup.wav";

// Creates the main dialog from a copy of its template whose WS_VISIBLE bit
// is cleared. Without a window manager (Xvfb) every hiding of a shown window
// waits two seconds for one, and each test ends by destroying its dialog.
HWND CreateHiddenDialog()
{
    HMODULE module = GetModuleHandleA(NULL);
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_MAIN), MAKEINTRESOURCEA(5));
    if (found == NULL)
        return NULL;
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(LoadResource(module, found)));
    std::vector<BYTE> copy(bytes, bytes + SizeofResource(module, found));
    const size_t styleOffset = 12;  // after version, signature, help ID and extended style
    DWORD style;
    memcpy(&style, &copy[styleOffset], sizeof style);
    style &= ~DWORD(WS_VISIBLE);
    memcpy(&copy[styleOffset], &style, sizeof style);
    return CreateDialogIndirectParamA(module, reinterpret_cast<LPCDLGTEMPLATEA>(copy.data()), NULL,
                                      MainDialogProc, 0);
}

class MainDialog : public testing::Test {
protected:
    void SetUp() override
    {
        fake_audio::Reset();
        dialog = CreateHiddenDialog();
        ASSERT_NE(dialog, nullptr);
        callsOfInit = fake_audio::Calls();

        // A good file that loads, then a cancel: the last good file is known,
        // nothing is selected and there is no stream.
        fake_audio::ScriptResult("BASS_StreamCreateFile", 0);
        fake_audio::ScriptResult("BASS_StreamCreateFile", 1);
        Choose(kSetUpFile);
        Choose("");
        fake_audio::Reset();
        chooserOwners.clear();
    }

    void TearDown() override
    {
        DestroyWindow(dialog);
        chooserAnswers.clear();
    }

    // Sends a command as the menu or a control would.
    void Command(WPARAM wParam) { SendMessageA(dialog, WM_COMMAND, wParam, 0); }
    void Click(int id) { SendDlgItemMessageA(dialog, id, BM_CLICK, 0, 0); }

    // Runs the Open command with the chooser answering `answer`.
    void Choose(const std::string& answer)
    {
        chooserAnswers.push_back(answer);
        Command(IDM_OPEN_FILE);
    }

    // Opens `name` with the library loading it as `handle`: the stop before
    // it re-creates nothing (the re-created stream gets handle 0).
    void OpenGood(const std::string& name, HSTREAM handle)
    {
        fake_audio::ScriptResult("BASS_StreamCreateFile", 0);
        fake_audio::ScriptResult("BASS_StreamCreateFile", handle);
        Choose(name);
        fake_audio::Reset();
        chooserOwners.clear();
    }

    std::string Text(int id)
    {
        char text[512] = {};
        GetDlgItemTextA(dialog, id, text, sizeof text);
        return text;
    }

    LRESULT TrackbarPosition(int id) { return SendDlgItemMessageA(dialog, id, TBM_GETPOS, 0, 0); }

    HWND dialog = NULL;
    Calls callsOfInit;
};

// --- initialisation -------------------------------------------------------

TEST_F(MainDialog, InitBringsTheLibraryUpAndAppliesVolume60Everywhere)
{
    EXPECT_EQ(callsOfInit, (Calls{"BASS_Init(1, 44100, 0x0, NULL, NULL)", "BASS_SetVolume(60)"}));
    EXPECT_EQ(TrackbarPosition(IDC_VOLUME), 60);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), "60");
    // The balance trackbar and its box keep their defaults.
    EXPECT_EQ(TrackbarPosition(IDC_BALANCE), 0);
    EXPECT_EQ(Text(IDC_BALANCE_VALUE), "");
}

TEST_F(MainDialog, TemplateGivesTheWindowItsCaptionAndRealTrackbars)
{
    char text[64] = {};
    GetWindowTextA(dialog, text, sizeof text);
    EXPECT_STREQ(text, "Sound module test App");
    GetClassNameA(GetDlgItem(dialog, IDC_VOLUME), text, sizeof text);
    EXPECT_STREQ(text, TRACKBAR_CLASSA);
    GetClassNameA(GetDlgItem(dialog, IDC_BALANCE), text, sizeof text);
    EXPECT_STREQ(text, TRACKBAR_CLASSA);
    // The trackbar's default range is the volume's own scale.
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_VOLUME, TBM_GETRANGEMIN, 0, 0), 0);
    EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_VOLUME, TBM_GETRANGEMAX, 0, 0), 100);
    EXPECT_NE(GetMenu(dialog), nullptr);
}

TEST_F(MainDialog, ReturnsTrueForCloseOnlyAndFalseForEverythingElse)
{
    EXPECT_EQ(MainDialogProc(dialog, WM_INITDIALOG, 0, 0), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, IDC_PAUSE, 0), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_COMMAND, IDOK, 0), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_HSCROLL, TB_ENDTRACK, 0), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_PAINT, 0, 0), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_USER + 7, 1, 2), FALSE);
    EXPECT_EQ(MainDialogProc(dialog, WM_CLOSE, 0, 0), TRUE);
}

// --- Open -----------------------------------------------------------------

TEST_F(MainDialog, OpenShowsTheNameStopsThenLoadsIt)
{
    fake_audio::ScriptResult("BASS_StreamCreateFile", 5);
    fake_audio::ScriptResult("BASS_StreamCreateFile", 6);
    Choose("C:\\music\\a.wav");

    EXPECT_EQ(chooserOwners, (std::vector<HWND>{dialog}));
    EXPECT_EQ(Text(IDC_FILE_NAME), "C:\\music\\a.wav");
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelStop(0)",
                                       Create("\"C:\\setup.wav\""),
                                       "BASS_StreamFree(5)",
                                       Create("\"C:\\music\\a.wav\""),
                                   }));
}

TEST_F(MainDialog, ANameThatDoesNotLoadIsShownAndStopFallsBackToTheLastGoodFile)
{
    OpenGood("C:\\good.wav", 7);
    Choose("C:\\broken.mp3");  // the library cannot open it: handle 0
    EXPECT_EQ(Text(IDC_FILE_NAME), "C:\\broken.mp3");
    fake_audio::Reset();
    fake_audio::ScriptResult("BASS_StreamCreateFile", 8);

    Click(IDC_PLAY);
    Click(IDC_STOP);
    Click(IDC_PLAY);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelPlay(0, FALSE)",
                                       "BASS_ChannelStop(0)",
                                       Create("\"C:\\good.wav\""),
                                       "BASS_ChannelPlay(8, FALSE)",
                                   }));
    EXPECT_EQ(Text(IDC_FILE_NAME), "C:\\broken.mp3");
}

TEST_F(MainDialog, CancelClearsTheNameStopsAndLeavesNoStream)
{
    OpenGood("C:\\a.wav", 7);
    fake_audio::ScriptResult("BASS_StreamCreateFile", 8);
    Choose("");

    EXPECT_EQ(Text(IDC_FILE_NAME), "");
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelStop(7)",
                                       Create("\"C:\\a.wav\""),
                                       "BASS_StreamFree(8)",
                                       Create("NULL"),
                                   }));
    // Nothing selected any more: Pause and Stop are ignored again.
    fake_audio::Reset();
    Click(IDC_PAUSE);
    Click(IDC_STOP);
    EXPECT_EQ(fake_audio::Calls(), Calls{});
}

TEST_F(MainDialog, ALongerNameIsKeptAndShownByItsFirst259Characters)
{
    const std::string name = "C:\\" + std::string(300, 'n') + ".wav";
    Choose(name);
    const std::string kept = name.substr(0, 259);
    EXPECT_EQ(Text(IDC_FILE_NAME), kept);
    EXPECT_EQ(fake_audio::Calls().back(), Create("\"" + kept + "\""));
}

// --- buttons --------------------------------------------------------------

TEST_F(MainDialog, PlayWithNoFileOpensTheChooserAndDoesNotPlayAfterIt)
{
    fake_audio::ScriptResult("BASS_StreamCreateFile", 0);
    fake_audio::ScriptResult("BASS_StreamCreateFile", 9);
    chooserAnswers.push_back("C:\\b.ogg");
    Click(IDC_PLAY);

    EXPECT_EQ(chooserOwners, (std::vector<HWND>{dialog}));
    EXPECT_EQ(Text(IDC_FILE_NAME), "C:\\b.ogg");
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelStop(0)",
                                       Create("\"C:\\setup.wav\""),
                                       Create("\"C:\\b.ogg\""),
                                   }));
    // The second press plays.
    fake_audio::Reset();
    Click(IDC_PLAY);
    EXPECT_EQ(fake_audio::Calls(), (Calls{"BASS_ChannelPlay(9, FALSE)"}));
    EXPECT_EQ(chooserOwners.size(), 1u);
}

TEST_F(MainDialog, PlayWithNoFileAndACancelledChooserLeavesNothingSelected)
{
    Click(IDC_PLAY);
    EXPECT_EQ(chooserOwners.size(), 1u);
    Click(IDC_PLAY);
    EXPECT_EQ(chooserOwners.size(), 2u);
    for (const std::string& call : fake_audio::Calls())
        EXPECT_EQ(call.find("BASS_ChannelPlay"), std::string::npos) << call;
}

TEST_F(MainDialog, PauseAndStopWithNoFileDoNothing)
{
    Click(IDC_PAUSE);
    Click(IDC_STOP);
    Command(IDC_STOP);
    EXPECT_EQ(fake_audio::Calls(), Calls{});
    EXPECT_TRUE(chooserOwners.empty());
}

TEST_F(MainDialog, PlayPauseAndStopWithAFileDriveTheStream)
{
    OpenGood("C:\\a.wav", 7);
    fake_audio::ScriptResult("BASS_StreamCreateFile", 8);

    Click(IDC_PLAY);
    Click(IDC_PAUSE);
    Click(IDC_PLAY);
    Click(IDC_STOP);
    Click(IDC_PLAY);
    EXPECT_EQ(fake_audio::Calls(), (Calls{
                                       "BASS_ChannelPlay(7, FALSE)",
                                       "BASS_ChannelPause(7)",
                                       "BASS_ChannelPlay(7, FALSE)",
                                       "BASS_ChannelStop(7)",
                                       Create("\"C:\\a.wav\""),
                                       "BASS_ChannelPlay(8, FALSE)",
                                   }));
}

TEST_F(MainDialog, OkCancelEscapeEnterAndOtherCommandsAreIgnored)
{
    OpenGood("C:\\a.wav", 7);
    Command(IDOK);
    Command(IDCANCEL);
    Command(MAKEWPARAM(IDC_FILE_LABEL, 0));
    Command(MAKEWPARAM(IDC_BALANCE_VALUE, EN_CHANGE));
    // Escape and Enter, through the dialog manager's keyboard handling.
    for (WPARAM key : {VK_ESCAPE, VK_RETURN}) {
        MSG message = {dialog, WM_KEYDOWN, key, 0, 0, {0, 0}};
        IsDialogMessageA(dialog, &message);
    }

    // Neither the library nor the chooser was called: the dialog did not
    // end (ending it takes the library down first) and nothing opened.
    EXPECT_EQ(fake_audio::Calls(), Calls{});
    EXPECT_TRUE(chooserOwners.empty());
}

TEST_F(MainDialog, OpenCommandWithANonZeroHighWordIsNeitherOpenNorAButton)
{
    Command(MAKEWPARAM(IDM_OPEN_FILE, 1));
    Command(MAKEWPARAM(IDM_OPEN_FILE, BN_CLICKED + 5));
    EXPECT_TRUE(chooserOwners.empty());
    EXPECT_EQ(fake_audio::Calls(), Calls{});
}

TEST_F(MainDialog, SettingTheBoxesTextsDoesNotActOnTheirChangeNotifications)
{
    OpenGood("C:\\a.wav", 7);
    SetDlgItemTextA(dialog, IDC_VOLUME_VALUE, "33");
    SetDlgItemTextA(dialog, IDC_FILE_NAME, "typed");
    EXPECT_EQ(fake_audio::Calls(), Calls{});
}

// --- trackbars ------------------------------------------------------------

TEST_F(MainDialog, VolumeTrackbarScrollAppliesItsPositionAndShowsIt)
{
    HWND volumeBar = GetDlgItem(dialog, IDC_VOLUME);
    SendMessageA(volumeBar, TBM_SETPOS, TRUE, 25);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_THUMBPOSITION, 25), (LPARAM)volumeBar);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), "25");

    // The trackbar's own keyboard handling notifies the dialog as a user would.
    SendMessageA(volumeBar, WM_KEYDOWN, VK_END, 0);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), "100");
    SendMessageA(volumeBar, WM_KEYDOWN, VK_HOME, 0);
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), "0");

    const Calls calls = fake_audio::Calls();
    ASSERT_FALSE(calls.empty());
    EXPECT_EQ(calls.front(), "BASS_SetVolume(25)");
    EXPECT_EQ(calls.back(), "BASS_SetVolume(0)");
    EXPECT_NE(std::find(calls.begin(), calls.end(), "BASS_SetVolume(100)"), calls.end());
    for (const std::string& call : calls)
        EXPECT_EQ(call.rfind("BASS_SetVolume(", 0), 0u) << call;
}

TEST_F(MainDialog, BalanceTrackbarScrollReappliesTheVolumeAndRewritesItsBox)
{
    HWND volumeBar = GetDlgItem(dialog, IDC_VOLUME);
    HWND balanceBar = GetDlgItem(dialog, IDC_BALANCE);
    SendMessageA(volumeBar, TBM_SETPOS, TRUE, 40);
    SetDlgItemTextA(dialog, IDC_VOLUME_VALUE, "77");  // typed by the user: no effect
    EXPECT_EQ(fake_audio::Calls(), Calls{});

    SendMessageA(balanceBar, TBM_SETPOS, TRUE, 90);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_ENDTRACK, 0), (LPARAM)balanceBar);
    SendMessageA(dialog, WM_HSCROLL, MAKEWPARAM(TB_LINEDOWN, 0), (LPARAM)balanceBar);
    EXPECT_EQ(fake_audio::Calls(), (Calls{"BASS_SetVolume(40)", "BASS_SetVolume(40)"}));
    EXPECT_EQ(Text(IDC_VOLUME_VALUE), "40");
    EXPECT_EQ(TrackbarPosition(IDC_BALANCE), 90);
}

// --- close ----------------------------------------------------------------

TEST(MainDialogClose, CloseTakesTheLibraryDownAndEndsTheDialog)
{
    // The template as it is, shown: ending a modeless dialog hides it.
    HWND dialog = CreateDialogParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL,
                                     MainDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(IsWindowVisible(dialog));
    fake_audio::Reset();

    SendMessageA(dialog, WM_CLOSE, 0, 0);
    EXPECT_EQ(fake_audio::Calls(), (Calls{"BASS_Free()"}));
    EXPECT_FALSE(IsWindowVisible(dialog));
    DestroyWindow(dialog);
}

// Presses the Close command of the first window found; stops the search.
BOOL CALLBACK PressClose(HWND window, LPARAM)
{
    PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0);
    return FALSE;
}

// Finds this thread's main dialog, running modally, and closes it as a user would.
void CALLBACK CloseTheDialog(HWND, UINT, UINT_PTR timer, DWORD)
{
    KillTimer(NULL, timer);
    EnumThreadWindows(GetCurrentThreadId(), PressClose, 0);
}

TEST(MainDialogClose, ModalDialogRunsUntilTheCloseCommandThenEndsWithResultZero)
{
    fake_audio::Reset();
    SetTimer(NULL, 0, 100, CloseTheDialog);
    const INT_PTR result = DialogBoxParamA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDD_MAIN), NULL,
                                           MainDialogProc, 0);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(fake_audio::Calls(),
              (Calls{"BASS_Init(1, 44100, 0x0, NULL, NULL)", "BASS_SetVolume(60)", "BASS_Free()"}));
}

}  // namespace
