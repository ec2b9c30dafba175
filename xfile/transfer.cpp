// The shared transfer buffer of the work items.
#include "xfile/transfer.h"

namespace xfile {

std::uint8_t* transfer_buffer() {
    static std::uint8_t buffer[kTransferBufferSize];
    return buffer;
}

}  // namespace xfile
