// Files on POSIX systems: a ByteSource over a file descriptor, read at
// explicit offsets so that several readers can share one open file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "posix_platform.h"

namespace audio {
namespace {

// One open file, closed when its last reader goes.
struct OpenFile {
    explicit OpenFile(int fd) : fd(fd) {}
    ~OpenFile() { close(fd); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    const int fd;
};

class FileSource : public PositionedSource {
public:
    FileSource(std::shared_ptr<const OpenFile> file, uint64_t size)
        : PositionedSource(size), file_(std::move(file)) {}

    // Reads stop at the size the file had when it was opened: bytes written
    // to it since are not part of the content.
    size_t read(void* dst, size_t n) override {
        char* out = static_cast<char*>(dst);
        n = size_t(std::min<uint64_t>(n, size_ - std::min(pos_, size_)));
        size_t done = 0;
        while (done < n) {
            ssize_t got = pread(file_->fd, out + done, n - done, off_t(pos_ + done));
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += size_t(got);
        }
        pos_ += done;
        return done;
    }

    std::unique_ptr<ByteSource> duplicate() const override { return std::make_unique<FileSource>(file_, size_); }

private:
    std::shared_ptr<const OpenFile> file_;
};

}  // namespace

std::unique_ptr<ByteSource> open_posix_file_source(const char* path, Error* error) {
    *error = Error::file_open;
    int fd = path ? open(path, O_RDONLY | O_CLOEXEC) : -1;
    if (fd < 0) return nullptr;
    std::shared_ptr<const OpenFile> file;
    try {
        file = std::make_shared<const OpenFile>(fd);
    } catch (...) {
        close(fd);
        throw;
    }
    struct stat info;
    // Directories open too; only regular files are playable.
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
    *error = Error::none;
    return std::make_unique<FileSource>(std::move(file), uint64_t(info.st_size));
}

}  // namespace audio
