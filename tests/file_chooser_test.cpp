// The file chooser against a stand-in for the system's Open dialog: the
// record it fills in, and what it makes of the dialog's answer.
#include <gtest/gtest.h>

#include <windows.h>

#include <commdlg.h>
#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

#include "app.h"
#include "file_chooser.h"

HINSTANCE appInstance;

namespace {

// What the stand-in saw on its last call, copied before it answered.
struct SeenCall {
    OPENFILENAMEA record;
    std::vector<char> fileBuffer;  // the buffer's nMaxFile bytes on entry
    std::vector<char> filter;      // through the closing double zero
    std::string initialDir;
    std::string title;
};

int callCount;
SeenCall seen;
// The stand-in's answer: its result, and the bytes it leaves in the buffer.
BOOL answerResult;
std::string answerBytes;

// The filter list through its closing double zero.
std::vector<char> FilterList(const char* filter)
{
    const char* end = filter;
    while (end[0] != '\0' || end[1] != '\0')
        ++end;
    return std::vector<char>(filter, end + 2);
}

}  // namespace

// Stands in for the system's Open dialog: records its record and buffer,
// then writes the scripted bytes into the buffer and returns the result.
extern "C" BOOL WINAPI GetOpenFileNameA(LPOPENFILENAMEA record)
{
    ++callCount;
    seen.record = *record;
    seen.fileBuffer.assign(record->lpstrFile, record->lpstrFile + record->nMaxFile);
    seen.filter = FilterList(record->lpstrFilter);
    seen.initialDir = record->lpstrInitialDir;
    seen.title = record->lpstrTitle;
    memcpy(record->lpstrFile, answerBytes.data(), answerBytes.size());
    return answerResult;
}

namespace {

class FileChooser : public testing::Test {
protected:
    void SetUp() override
    {
        appInstance = reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(0x400000));
        callCount = 0;
        seen = SeenCall();
    }

    // Makes the stand-in answer `result`, leaving `bytes` in the buffer.
    static void Answer(BOOL result, const std::string& bytes)
    {
        answerResult = result;
        answerBytes = bytes;
    }

    const HWND owner = reinterpret_cast<HWND>(static_cast<INT_PTR>(0x1234));
};

TEST_F(FileChooser, FillsTheOlderOpenRecordWithTheMusicFilterStartFolderTitleAndFlags)
{
    Answer(TRUE, std::string("C:\\a.wav\0", 9));
    OpenFileDialog(owner);

    ASSERT_EQ(callCount, 1);
    const OPENFILENAMEA& r = seen.record;
    // The older record: it ends after lpTemplateName, without the extended
    // fields; on 32-bit Windows that is 76 bytes.
    EXPECT_EQ(r.lStructSize, offsetof(OPENFILENAMEA, lpTemplateName) + sizeof(LPCSTR));
    EXPECT_LT(r.lStructSize, sizeof(OPENFILENAMEA));
#ifndef _WIN64
    EXPECT_EQ(r.lStructSize, 76u);
#endif
    EXPECT_EQ(r.hwndOwner, owner);
    EXPECT_EQ(r.hInstance, appInstance);
    const char expectedFilter[] = "Music Files (*.wav, *.mp3,*.ogg)\0*.wav;*.mp3;*.ogg\0";
    EXPECT_EQ(seen.filter, std::vector<char>(expectedFilter, expectedFilter + sizeof expectedFilter));
    EXPECT_EQ(r.nFilterIndex, 0u);
    EXPECT_EQ(r.nMaxFile, 260u);
    EXPECT_EQ(seen.fileBuffer, std::vector<char>(260, '\0'));
    EXPECT_EQ(seen.initialDir, "C:\\");
    EXPECT_EQ(seen.title, "Open File");
    EXPECT_EQ(r.Flags, 0x80804u);
    EXPECT_EQ(r.Flags, DWORD(OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY));
}

TEST_F(FileChooser, LeavesEveryOtherFieldZero)
{
    Answer(FALSE, "");
    OpenFileDialog(owner);

    const OPENFILENAMEA& r = seen.record;
    EXPECT_EQ(r.lpstrCustomFilter, nullptr);
    EXPECT_EQ(r.nMaxCustFilter, 0u);
    EXPECT_EQ(r.lpstrFileTitle, nullptr);
    EXPECT_EQ(r.nMaxFileTitle, 0u);
    EXPECT_EQ(r.nFileOffset, 0u);
    EXPECT_EQ(r.nFileExtension, 0u);
    EXPECT_EQ(r.lpstrDefExt, nullptr);
    EXPECT_EQ(r.lCustData, 0);
    EXPECT_EQ(r.lpfnHook, nullptr);
    EXPECT_EQ(r.lpTemplateName, nullptr);
}

TEST_F(FileChooser, ReturnsTheChosenPathUpToItsFirstZeroByte)
{
    Answer(TRUE, std::string("C:\\music\\song.mp3\0left over", 28));
    EXPECT_EQ(OpenFileDialog(owner), "C:\\music\\song.mp3");
}

TEST_F(FileChooser, ReturnsATypedNameOfAMissingFileUnchanged)
{
    Answer(TRUE, std::string("C:\\windows\\no such file.ogg\0", 28));
    EXPECT_EQ(OpenFileDialog(owner), "C:\\windows\\no such file.ogg");
}

TEST_F(FileChooser, ReturnsAPathFillingTheWholeBuffer)
{
    const std::string longest = "C:\\" + std::string(252, 'x') + ".wav";
    ASSERT_EQ(longest.size(), 259u);
    Answer(TRUE, longest + '\0');
    EXPECT_EQ(OpenFileDialog(owner), longest);
}

TEST_F(FileChooser, CancelOrFailureGivesAnEmptyStringWhateverTheBufferHolds)
{
    Answer(FALSE, std::string("C:\\typed but cancelled.wav\0", 27));
    EXPECT_EQ(OpenFileDialog(owner), "");
}

TEST_F(FileChooser, EveryCallStartsAfreshWithAnEmptyNameAndTheSameStartFolder)
{
    Answer(TRUE, std::string("D:\\other\\first.wav\0", 19));
    EXPECT_EQ(OpenFileDialog(owner), "D:\\other\\first.wav");
    Answer(FALSE, "");
    EXPECT_EQ(OpenFileDialog(owner), "");

    EXPECT_EQ(callCount, 2);
    EXPECT_EQ(seen.fileBuffer, std::vector<char>(260, '\0'));
    EXPECT_EQ(seen.initialDir, "C:\\");
}

}  // namespace
