// The table of the Windows layer's operations.
#include "win_platform.h"

namespace audio {

const Platform& win_platform() {
    static const Platform operations{open_file_source, open_block_converter, open_output_device};
    return operations;
}

}  // namespace audio
