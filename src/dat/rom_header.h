#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace quorvin {

// Some single-file dumps begin with a header of the dumper's own that is not part of the
// cartridge: a ".nes" file's 16 bytes "NES" 0x1A... (iNES and NES 2.0), followed by a
// 512-byte trainer when bit 2 of its seventh byte is set. Databases that describe the
// cartridge's own roms know only the bytes after it.

// How many bytes of a file's beginning a header can take: the scan keeps this many.
inline constexpr size_t kRomHeadBytes = 16 + 512;

// The length of the header that a file beginning with `head` (its first bytes, up to
// kRomHeadBytes of them) carries, or 0 when it has none we know. A file that is nothing but
// a header, or shorter than its header says, has none.
uint64_t RomHeaderLength(std::string_view head, uint64_t file_size);

// The CRC-32 and length of a file's bytes after its header.
struct HeaderlessCrc {
  uint32_t crc = 0;
  uint64_t size = 0;
};

// What the scan learns about headered files for the lookup: for each such file, by its whole
// CRC-32, the CRC of its bytes after the header. Files with equal whole CRCs and sizes are
// taken to hold the same bytes (the first one noted counts).
class HeaderlessCrcs {
 public:
  // Notes a file by its first bytes (kRomHeadBytes of them, or the whole file when it is
  // shorter), its size and its whole CRC-32. A file without a known header is not noted.
  void Note(std::string_view head, uint64_t file_size, uint32_t whole_crc);
  // The CRC after the header of the file noted with this whole CRC and size.
  std::optional<HeaderlessCrc> Find(uint32_t whole_crc, uint64_t file_size) const;
  // The same by the whole CRC alone (when the size is not at hand).
  std::optional<HeaderlessCrc> Find(uint32_t whole_crc) const;
  size_t size() const { return by_whole_crc_.size(); }
  bool empty() const { return by_whole_crc_.empty(); }

 private:
  struct Noted {
    uint64_t file_size;
    HeaderlessCrc after;
  };
  std::unordered_map<uint32_t, Noted> by_whole_crc_;
};

}  // namespace quorvin
