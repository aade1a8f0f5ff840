// The platform layer of the system the library is built for.
#pragma once

#include "platform.h"

namespace audio {

// The platform the public calls use: the build's own, unless replaced.
const Platform& host_platform();

// Puts `platform` in the place of the build's own (null restores it): for
// tests that stand in for the system, its files or its devices. The table
// must outlive its use.
void replace_host_platform(const Platform* platform);

}  // namespace audio
