#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "forge_crc.h"

namespace quorvin::test {

// Made-up dumps of every kind the program recognises: cartridge data forged to a wanted CRC,
// stored the way a copier or emulator stores it. Shared by the tests and the benchmarks.
struct DumpKind {
  std::string name;       // for messages and as a system name
  std::string extension;  // the one such dumps usually carry
  std::string header;     // the bytes before the data (empty for a byte order)
  size_t swap = 0;        // 2 or 4: stored in words of this many bytes, each reversed
  size_t data_size = 0;   // a data size the kind's rule accepts
};

inline std::string Padded(std::string s, size_t size) {
  s.resize(size, '\0');
  return s;
}

inline std::vector<DumpKind> EveryDumpKind() {
  using std::string;
  return {
      {"ines", ".nes", Padded(string("NES\x1A\x02\x01", 6), 16), 0, 40960},
      {"inestrainer", ".nes", Padded(string("NES\x1A\x02\x01\x04", 7), 16) + string(512, 't'), 0,
       40960},
      {"fds", ".fds", Padded(string("FDS\x1A\x01", 5), 16), 0, 65500},
      {"lynx", ".lnx", Padded(string("LYNX\0\x02\0\x01", 8) + "cart name", 64), 0, 16384},
      {"lynxbs9", ".lnx", Padded(string(6, '\0') + "BS93", 64), 0, 16384},
      {"a7800", ".a78",
       Padded(string("\x01"
                     "ATARI7800",
                     10) +
                  "   game title",
              128),
       0, 32768},
      {"snes", ".smc", Padded(string("\x18\0\0", 3), 512), 0, 12288},
      {"snesswc", ".swc", Padded(string("\x18\0\0\0\0\0\0\0\xAA\xBB\x04", 11), 512), 0, 12288},
      {"pce", ".pce", Padded(string("\x40\0\0\0\0\0\0\0\xAA\xBB\x02", 11), 512), 0, 16384},
      {"v64", ".v64", "", 2, 16384},
      {"n64", ".n64", "", 4, 16384},
  };
}

// Every `unit` bytes reversed (a whole number of units).
inline std::string Swapped(std::string data, size_t unit) {
  for (size_t i = 0; i + unit <= data.size(); i += unit) {
    for (size_t a = i, b = i + unit - 1; a < b; ++a, --b) std::swap(data[a], data[b]);
  }
  return data;
}

// Cartridge data of the kind's size with the CRC-32 `crc`; Nintendo 64 data begins with
// the mark of its own (big-endian) order.
inline std::string CartridgeData(const DumpKind& kind, uint32_t crc, char fill = 'd',
                                 size_t size = 0) {
  if (size == 0) size = kind.data_size;
  std::string start = kind.swap != 0 ? std::string("\x80\x37\x12\x40", 4) : std::string();
  return ForgeCrc(start + std::string(size - 4 - start.size(), fill), crc);
}

// The file a user holds of that data.
inline std::string DumpOf(const DumpKind& kind, const std::string& data) {
  return kind.swap != 0 ? Swapped(data, kind.swap) : kind.header + data;
}

}  // namespace quorvin::test
