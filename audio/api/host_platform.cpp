// Windows builds run on the Windows layer; every other build (the native
// sanitizer and fuzzing builds) on the POSIX one.
#include "host_platform.h"

#ifdef _WIN32
#include "win_platform.h"
#else
#include "posix_platform.h"
#endif

namespace audio {

const Platform& host_platform() {
#ifdef _WIN32
    return win_platform();
#else
    return posix_platform();
#endif
}

}  // namespace audio
