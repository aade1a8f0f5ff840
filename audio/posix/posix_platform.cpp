// The table of the POSIX layer's operations.
#include "posix_platform.h"

namespace audio {

const Platform& posix_platform() {
    static const Platform operations{open_file_source, open_block_converter, open_output_device};
    return operations;
}

}  // namespace audio
