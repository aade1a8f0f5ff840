// Files on POSIX systems: a ByteSource over a stdio stream.
#include <sys/stat.h>

#include <cstdio>

#include "posix_platform.h"

namespace audio {
namespace {

class FileSource : public ByteSource {
public:
    FileSource(FILE* file, uint64_t size) : file_(file), size_(size) {}
    ~FileSource() override { std::fclose(file_); }

    size_t read(void* dst, size_t n) override {
        size_t got = std::fread(dst, 1, n, file_);
        pos_ += got;
        return got;
    }

    bool seek(uint64_t pos) override {
        if (pos > size_ || fseeko(file_, off_t(pos), SEEK_SET) != 0) return false;
        pos_ = pos;
        return true;
    }

    uint64_t tell() const override { return pos_; }
    uint64_t size() const override { return size_; }

private:
    FILE* file_;
    uint64_t size_;
    uint64_t pos_ = 0;
};

}  // namespace

std::unique_ptr<ByteSource> open_stdio_file_source(const char* path, Error* error) {
    FILE* file = path ? std::fopen(path, "rb") : nullptr;
    struct stat info;
    // fopen succeeds on directories; only regular files are playable.
    if (file == nullptr || fstat(fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        if (file) std::fclose(file);
        *error = Error::file_open;
        return nullptr;
    }
    return std::make_unique<FileSource>(file, uint64_t(info.st_size));
}

}  // namespace audio
