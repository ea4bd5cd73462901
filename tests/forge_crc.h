#pragma once

#include <cstdint>
#include <string>

#include "dat/crc.h"

namespace quorvin::test {

// `prefix` followed by four bytes chosen so that the whole has the CRC-32 `target`: files
// whose CRCs are the keys of a real database, without real ROM images. Shared by the tests
// and the benchmarks.
inline std::string ForgeCrc(std::string prefix, uint32_t target) {
  const uint32_t* t = Crc32Table();
  uint8_t index_of_top[256];
  for (int i = 0; i < 256; ++i) index_of_top[t[i] >> 24] = static_cast<uint8_t>(i);
  // Walk back from the wanted register: each step's table index is fixed by its top byte.
  uint8_t idx[4];
  uint32_t w = ~target;
  for (int k = 3; k >= 0; --k) {
    idx[k] = index_of_top[w >> 24];
    w = (w ^ t[idx[k]]) << 8;
  }
  uint32_t reg =
      Crc32Update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(prefix.data()), prefix.size());
  for (int k = 0; k < 4; ++k) {
    prefix.push_back(static_cast<char>((reg ^ idx[k]) & 0xFF));
    reg = (reg >> 8) ^ t[idx[k]];
  }
  return prefix;
}

}  // namespace quorvin::test
