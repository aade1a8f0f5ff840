// Windows builds run on the Windows layer; every other build (the native
// sanitizer and fuzzing builds) on the POSIX one.
#include "host_platform.h"

#ifdef _WIN32
#include "win_platform.h"
#else
#include "posix_platform.h"
#endif

#include <atomic>

namespace audio {
namespace {

std::atomic<const Platform*> g_replacement{nullptr};

}  // namespace

void replace_host_platform(const Platform* platform) { g_replacement.store(platform); }

const Platform& host_platform() {
    if (const Platform* replacement = g_replacement.load()) return *replacement;
#ifdef _WIN32
    return win_platform();
#else
    return posix_platform();
#endif
}

}  // namespace audio
