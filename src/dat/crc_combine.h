#pragma once

#include <cstdint>

namespace quorvin {

// Arithmetic on finished CRC-32 values (the zlib family, as Crc32 computes them). A CRC-32 is
// linear in its message, so the CRC of two pieces one after the other follows from the
// pieces' CRCs and the second piece's length, with no byte read again.

// The CRC-32 of A followed by B, from crc(A), crc(B) and the length of B in bytes. Agrees
// with zlib's crc32_combine.
uint32_t Crc32Combine(uint32_t crc_a, uint32_t crc_b, uint64_t length_b);

// The inverse: the CRC-32 of B alone, from crc(A followed by B), crc(A) and the length of B.
// This gives the CRC of a file's bytes after a header from the whole file's CRC and the
// header's bytes, without reading the file again.
uint32_t Crc32OfSuffix(uint32_t crc_whole, uint32_t crc_prefix, uint64_t length_suffix);

}  // namespace quorvin
