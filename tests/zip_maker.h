#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Zip archives written byte by byte for the tests: well-formed ones in the layouts real
// tools write (stored, deflated, ZIP64, comments), and damaged ones that no writer would make.
namespace quorvin::test {

struct ZipEntry {
  std::string name;
  std::string data;                // the uncompressed bytes
  bool deflate = false;            // raw deflate (method 8); otherwise stored (method 0)
  uint16_t flags = 0;              // general purpose flags (bit 0: encrypted, bit 11: UTF-8 name)
  std::optional<uint16_t> method;  // written instead of 0 or 8 (data then stored as is)
  std::optional<uint32_t> crc;     // written instead of the data's CRC, in both headers
  std::optional<uint64_t> size;    // uncompressed size written instead of the data's
  std::optional<std::string> local_name;  // the local header's name, when it disagrees
  std::optional<uint32_t> local_crc;      // the local header's CRC, when it disagrees
};

struct ZipLayout {
  bool zip64 = false;    // ZIP64 extra fields, end record and locator
  std::string comment;   // the archive comment
  std::string trailing;  // bytes after the end record
};

std::string MakeZip(const std::vector<ZipEntry>& entries, const ZipLayout& layout = {});

}  // namespace quorvin::test
