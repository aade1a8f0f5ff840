// A byte source whose one read that reaches a set byte first waits, as a
// network share or a disk waking up would; armed by a test before the file
// is opened.
#include "read_stall.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "diagnostics.h"

namespace audio {
namespace {

struct Stall {
    uint64_t at_byte;
    unsigned milliseconds;
    std::atomic<bool> pending{true};  // the stall is still to happen
};

std::mutex g_armed_mutex;
std::shared_ptr<Stall> g_armed;  // taken by the next file opened

class StallingSource final : public ByteSource {
public:
    StallingSource(std::unique_ptr<ByteSource> inner, std::shared_ptr<Stall> stall)
        : inner_(std::move(inner)), stall_(std::move(stall)) {}
    size_t read(void* dst, size_t n) override {
        if (inner_->tell() + n > stall_->at_byte && stall_->pending.exchange(false))
            std::this_thread::sleep_for(std::chrono::milliseconds(stall_->milliseconds));
        return inner_->read(dst, n);
    }
    bool seek(uint64_t pos) override { return inner_->seek(pos); }
    uint64_t tell() const override { return inner_->tell(); }
    uint64_t size() const override { return inner_->size(); }
    std::unique_ptr<ByteSource> duplicate() const override {
        std::unique_ptr<ByteSource> copy = inner_->duplicate();
        return copy ? std::make_unique<StallingSource>(std::move(copy), stall_) : nullptr;
    }

private:
    std::unique_ptr<ByteSource> inner_;
    std::shared_ptr<Stall> stall_;
};

}  // namespace

void stall_file_read(uint64_t at_byte, unsigned milliseconds) {
    auto stall = std::make_shared<Stall>();
    stall->at_byte = at_byte;
    stall->milliseconds = milliseconds;
    std::lock_guard<std::mutex> lock(g_armed_mutex);
    g_armed = std::move(stall);
}

std::unique_ptr<ByteSource> with_armed_read_stall(std::unique_ptr<ByteSource> file) {
    std::shared_ptr<Stall> stall;
    {
        std::lock_guard<std::mutex> lock(g_armed_mutex);
        stall.swap(g_armed);
    }
    if (!file || !stall) return file;
    return std::make_unique<StallingSource>(std::move(file), std::move(stall));
}

}  // namespace audio
