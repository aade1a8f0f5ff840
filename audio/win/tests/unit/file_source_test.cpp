// The Windows file source: contents, seeking and sizes through the read
// buffer, errors, that an open file can still be renamed and deleted, and
// that its duplicates read that open file, not whatever has its path now.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "failing_allocations.h"
#include "win_platform.h"

namespace {

// A fresh folder under the system's temp folder, removed with its files.
class TempFolder {
public:
    TempFolder() {
        char base[MAX_PATH];
        GetTempPathA(MAX_PATH, base);
        path_ = std::string(base) + "filesrc_" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(path_.c_str(), nullptr);
    }
    ~TempFolder() {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((path_ + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                DeleteFileA((path_ + "\\" + found.cFileName).c_str());
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
        RemoveDirectoryA(path_.c_str());
    }
    std::string file(const std::string& name) const { return path_ + "\\" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// Bytes whose value at each offset differs from its neighbours, so a read
// from the wrong place shows.
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7 + i / 251) & 0xff);
    return bytes;
}

void write_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

// Another program writing on at the end of a file.
void append_to_file(const std::string& path, const std::vector<uint8_t>& bytes) {
    HANDLE file = CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);
    ASSERT_EQ(written, bytes.size());
}

std::unique_ptr<audio::ByteSource> open_ok(const std::string& path) {
    audio::Error error = audio::Error::none;
    std::unique_ptr<audio::ByteSource> source = audio::open_file_source(path.c_str(), &error);
    EXPECT_EQ(error, audio::Error::none);
    return source;
}

TEST(FileSource, ReadsWholeFileInSmallPiecesAcrossBufferBoundaries) {
    TempFolder folder;
    std::vector<uint8_t> bytes = pattern(100000);
    write_file(folder.file("a.bin"), bytes);
    auto source = open_ok(folder.file("a.bin"));
    ASSERT_TRUE(source);
    // Bytes written on since it was opened are not read.
    append_to_file(folder.file("a.bin"), pattern(5000));
    EXPECT_EQ(source->size(), bytes.size());

    std::vector<uint8_t> got;
    uint8_t piece[13];
    size_t n;
    while ((n = source->read(piece, sizeof(piece))) > 0) got.insert(got.end(), piece, piece + n);
    EXPECT_EQ(got, bytes);
    EXPECT_EQ(source->tell(), bytes.size());
    EXPECT_EQ(source->read(piece, 1), 0u);
}

TEST(FileSource, TakesItsReadBufferOnlyToRead) {
    // A stream keeps the reader it opened only to duplicate the ones it
    // reads through: that one holds no buffer.
    TempFolder folder;
    std::vector<uint8_t> bytes = pattern(100000);
    write_file(folder.file("a.bin"), bytes);
    size_t before = audio_test::allocated_bytes();
    auto source = open_ok(folder.file("a.bin"));
    ASSERT_TRUE(source);
    std::unique_ptr<audio::ByteSource> reader = source->duplicate();
    EXPECT_LT(audio_test::allocated_bytes() - before, 4096u);
    // Without memory for a buffer, small reads go straight to the file.
    std::vector<uint8_t> got(100);
    size_t n = audio_test::with_failing_allocations(1000, [&] { return reader->read(got.data(), got.size()); });
    EXPECT_EQ(n, got.size());
    EXPECT_TRUE(std::equal(got.begin(), got.end(), bytes.begin()));
}

TEST(FileSource, SeeksAndReadsLargeAndSmallBlocksFromAnyPosition) {
    TempFolder folder;
    std::vector<uint8_t> bytes = pattern(300000);
    write_file(folder.file("b.bin"), bytes);
    auto source = open_ok(folder.file("b.bin"));
    ASSERT_TRUE(source);

    // Backwards and forwards, inside and outside the current buffer, and
    // reads larger than the buffer that start inside it.
    const struct { uint64_t pos; size_t length; } reads[] = {
        {250000, 100}, {10, 5}, {20, 40000}, {5000, 3}, {299990, 100}, {0, 300000}, {123457, 70001},
    };
    for (const auto& r : reads) {
        ASSERT_TRUE(source->seek(r.pos));
        EXPECT_EQ(source->tell(), r.pos);
        std::vector<uint8_t> got(r.length);
        size_t expected = std::min<size_t>(r.length, bytes.size() - r.pos);
        ASSERT_EQ(source->read(got.data(), r.length), expected) << "at " << r.pos;
        EXPECT_TRUE(std::equal(got.begin(), got.begin() + expected, bytes.begin() + r.pos)) << "at " << r.pos;
        EXPECT_EQ(source->tell(), r.pos + expected);
    }
}

TEST(FileSource, SeekPastTheEndFailsAndKeepsThePosition) {
    TempFolder folder;
    write_file(folder.file("c.bin"), pattern(1000));
    auto source = open_ok(folder.file("c.bin"));
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->seek(400));
    EXPECT_FALSE(source->seek(1001));
    EXPECT_EQ(source->tell(), 400u);
    EXPECT_TRUE(source->seek(1000));
    uint8_t byte;
    EXPECT_EQ(source->read(&byte, 1), 0u);
}

TEST(FileSource, EmptyFileOpensWithSizeZero) {
    TempFolder folder;
    write_file(folder.file("empty.bin"), {});
    auto source = open_ok(folder.file("empty.bin"));
    ASSERT_TRUE(source);
    EXPECT_EQ(source->size(), 0u);
    uint8_t byte;
    EXPECT_EQ(source->read(&byte, 1), 0u);
}

TEST(FileSource, MissingFileDirectoryAndEmptyNameFailWithFileOpen) {
    TempFolder folder;
    const char* names[] = {"", nullptr};
    std::string missing = folder.file("missing.wav");
    std::string paths[] = {missing, folder.path(), folder.path() + "\\"};
    for (const std::string& path : paths) {
        audio::Error error = audio::Error::none;
        EXPECT_FALSE(audio::open_file_source(path.c_str(), &error)) << path;
        EXPECT_EQ(error, audio::Error::file_open) << path;
    }
    for (const char* name : names) {
        audio::Error error = audio::Error::none;
        EXPECT_FALSE(audio::open_file_source(name, &error));
        EXPECT_EQ(error, audio::Error::file_open);
    }
}

TEST(FileSource, OpenFileAndItsDuplicatesReadOnThroughRenameReplaceAndDelete) {
    TempFolder folder;
    std::vector<uint8_t> bytes = pattern(70000);
    std::string original = folder.file("playing.wav");
    std::string renamed = folder.file("renamed.wav");
    write_file(original, bytes);
    auto source = open_ok(original);
    ASSERT_TRUE(source);
    ASSERT_TRUE(source->seek(100));

    // Renamed, another file put at its path, then deleted: a duplicate made
    // now still reads the file that was opened, from its start.
    EXPECT_TRUE(MoveFileA(original.c_str(), renamed.c_str())) << GetLastError();
    write_file(original, std::vector<uint8_t>(500, 0xEE));
    EXPECT_TRUE(DeleteFileA(renamed.c_str())) << GetLastError();
    std::unique_ptr<audio::ByteSource> copy = source->duplicate();
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->size(), bytes.size());
    EXPECT_EQ(copy->tell(), 0u);

    // Interleaved reads keep their own positions.
    std::vector<uint8_t> from_copy(30000), from_source(30000);
    ASSERT_EQ(copy->read(from_copy.data(), 20000), 20000u);
    ASSERT_EQ(source->read(from_source.data(), 30000), 30000u);
    ASSERT_EQ(copy->read(from_copy.data() + 20000, 10000), 10000u);
    EXPECT_TRUE(std::equal(from_copy.begin(), from_copy.end(), bytes.begin()));
    EXPECT_TRUE(std::equal(from_source.begin(), from_source.end(), bytes.begin() + 100));

    // The file stays open while any reader of it is left.
    source.reset();
    std::unique_ptr<audio::ByteSource> last = copy->duplicate();
    copy.reset();
    ASSERT_TRUE(last && last->seek(bytes.size() - 10));
    uint8_t tail[10];
    EXPECT_EQ(last->read(tail, 10), 10u);
    EXPECT_TRUE(std::equal(tail, tail + 10, bytes.end() - 10));
}

TEST(FileSource, OpensNamesWithCharactersOfTheAnsiCodePage) {
    // "tëst_ü.wav": characters outside ASCII that code page 1252 and most
    // other ANSI pages hold.
    const wchar_t wide_name[] = L"t\u00ebst_\u00fc.wav";
    char narrow_name[64];
    BOOL lossy = FALSE;
    // The UTF-8 code page holds every name and refuses the lossy flag.
    BOOL* lossy_flag = GetACP() == CP_UTF8 ? nullptr : &lossy;
    int length = WideCharToMultiByte(CP_ACP, 0, wide_name, -1, narrow_name, sizeof(narrow_name), nullptr,
                                     lossy_flag);
    if (length == 0 || lossy) GTEST_SKIP() << "the ANSI code page cannot hold the test name";

    TempFolder folder;
    std::vector<uint8_t> bytes = pattern(3000);
    std::string path = folder.file(narrow_name);
    // Created through the wide call, so only the narrow open is under test.
    wchar_t wide_path[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide_path, MAX_PATH);
    HANDLE file = CreateFileW(wide_path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(file);

    auto source = open_ok(path);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->size(), bytes.size());
}

}  // namespace
