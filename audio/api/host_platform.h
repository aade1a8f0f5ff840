// The platform layer of the system the library is built for.
#pragma once

#include "platform.h"

namespace audio {

const Platform& host_platform();

}  // namespace audio
