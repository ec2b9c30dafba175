// The one buffer through which the work items copy data: the container member replacement
// and the message updates share it, so that a patch run holds no more than this in flight.
#pragma once

#include <cstddef>
#include <cstdint>

namespace xfile {

constexpr std::size_t kTransferBufferSize = 10240;

std::uint8_t* transfer_buffer();

}  // namespace xfile
