#pragma once

// zlib: the independent CRC-32 that the tests check ours against.
#include <zlib.h>

#include <cstdint>
#include <limits>

namespace quorvin::test {

// True when zlib can take this length: Debian's zlib for Windows has 32-bit lengths (a long
// is 32 bits there), so the largest cases are checked on Linux only.
constexpr bool ZlibTakesLength(uint64_t length) {
  return length <= static_cast<uint64_t>(std::numeric_limits<z_off_t>::max());
}

// zlib's crc32_combine with the widest length it has.
inline uint32_t ZlibCrc32Combine(uint32_t a, uint32_t b, uint64_t length) {
#ifdef _WIN32
  return static_cast<uint32_t>(crc32_combine(a, b, static_cast<z_off_t>(length)));
#else
  return static_cast<uint32_t>(crc32_combine64(a, b, static_cast<z_off64_t>(length)));
#endif
}

}  // namespace quorvin::test
