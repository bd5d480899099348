// CRC-32 of the recording file: IEEE 802.3, reflected polynomial 0xEDB88320, initial value and
// final XOR 0xFFFFFFFF (the one of zlib and PNG). Carry-less multiplication where the processor
// has it, 8-byte table slicing otherwise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rv8 {

// `crc` continues an earlier result: Crc32(b, nb, Crc32(a, na)) is the CRC of a followed by b.
uint32_t Crc32(const void* data, std::size_t size, uint32_t crc = 0);

}  // namespace rv8
