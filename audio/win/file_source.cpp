// Audio files on Windows: a ByteSource over a file handle with a small read
// buffer, so memory stays the same however long the file is. Reads name
// their offset, so that several readers can share one open handle.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "win_platform.h"

namespace audio {
namespace {

// Decoders read a few bytes to a few kilobytes at a time; one buffer of this
// size turns those into few system calls.
constexpr size_t kReadBufferSize = 16 * 1024;

// One open file handle, closed when its last reader goes; a rename or
// delete that waited for that then completes.
struct OpenFile {
    explicit OpenFile(HANDLE handle) : handle(handle) {}
    ~OpenFile() { CloseHandle(handle); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    const HANDLE handle;
};

class FileSource final : public PositionedSource {
public:
    // A reader of an open file whose size is already known.
    FileSource(std::shared_ptr<const OpenFile> file, uint64_t size)
        : PositionedSource(size), file_(std::move(file)) {}

    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    // Copies from the buffer, refilling it as needed; large reads bypass it.
    // Reads stop at the size the file had when it was opened.
    size_t read(void* dst, size_t n) override {
        uint8_t* out = static_cast<uint8_t*>(dst);
        n = static_cast<size_t>(std::min<uint64_t>(n, size_ - std::min(pos_, size_)));
        size_t done = 0;
        while (done < n) {
            size_t count = 0;
            if (pos_ >= buffer_pos_ && pos_ < buffer_pos_ + buffer_len_) {
                size_t offset = static_cast<size_t>(pos_ - buffer_pos_);
                count = std::min(n - done, buffer_len_ - offset);
                std::memcpy(out + done, buffer_.get() + offset, count);
            } else if (n - done >= kReadBufferSize || !have_buffer()) {
                count = read_at(pos_, out + done, n - done);
            } else {
                buffer_pos_ = pos_;
                buffer_len_ = read_at(pos_, buffer_.get(), kReadBufferSize);
                if (buffer_len_ == 0) break;
                continue;
            }
            if (count == 0) break;
            done += count;
            pos_ += count;
        }
        return done;
    }

    // Another reader of the same handle: the file as it was opened, even
    // after a rename, a delete or a new file at its path.
    std::unique_ptr<ByteSource> duplicate() const override { return std::make_unique<FileSource>(file_, size_); }

private:
    // Reads up to n bytes at absolute offset pos straight from the file;
    // returns how many arrived (0 at the end or on an error). The offset goes
    // with each read, never through the handle's shared file pointer.
    size_t read_at(uint64_t pos, uint8_t* dst, size_t n) {
        size_t done = 0;
        while (done < n) {
            uint64_t where = pos + done;
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(where);
            at.OffsetHigh = static_cast<DWORD>(where >> 32);
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(n - done, 1u << 30));
            DWORD got = 0;
            if (!ReadFile(file_->handle, dst + done, chunk, &got, &at) || got == 0) break;
            done += got;
        }
        return done;
    }

    // The read buffer is taken at the first read that wants it: the reader
    // a stream keeps only to duplicate never reads. Without memory for
    // it, reads go straight to the file.
    bool have_buffer() {
        if (!buffer_) buffer_.reset(new (std::nothrow) uint8_t[kReadBufferSize]);
        return buffer_ != nullptr;
    }

    std::shared_ptr<const OpenFile> file_;
    uint64_t buffer_pos_ = 0;  // file offset of buffer_[0]
    size_t buffer_len_ = 0;    // valid bytes in buffer_
    std::unique_ptr<uint8_t[]> buffer_;
};

}  // namespace

// Opens path for reading. Others may read, rename or delete the file while
// it is open (a playing file must not lock the user out of it).
std::unique_ptr<ByteSource> open_file_source(const char* path, Error* error) {
    *error = Error::file_open;
    if (path == nullptr || path[0] == '\0') return nullptr;

    HANDLE file = CreateFileA(path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;

    // A directory opens on some systems (and with backup semantics); a pipe or
    // device has no size to seek in. Only plain disk files are sources.
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return nullptr;
    }

    try {
        auto open = std::make_shared<const OpenFile>(file);
        file = INVALID_HANDLE_VALUE;  // owned by `open` from here on
        auto source = std::make_unique<FileSource>(std::move(open), static_cast<uint64_t>(size.QuadPart));
        *error = Error::none;
        return source;
    } catch (const std::bad_alloc&) {
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
        *error = Error::no_memory;
        return nullptr;
    }
}

}  // namespace audio
