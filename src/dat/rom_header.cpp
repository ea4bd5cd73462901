#include "dat/rom_header.h"

#include "dat/crc.h"
#include "dat/crc_combine.h"

namespace quorvin {

uint64_t RomHeaderLength(std::string_view head, uint64_t file_size) {
  constexpr std::string_view kNesMagic("NES\x1A", 4);
  if (head.size() < 16 || !head.starts_with(kNesMagic)) return 0;
  const uint64_t length = (static_cast<uint8_t>(head[6]) & 0x04) ? 16 + 512 : 16;
  return file_size > length ? length : 0;
}

void HeaderlessCrcs::Note(std::string_view head, uint64_t file_size, uint32_t whole_crc) {
  const uint64_t length = RomHeaderLength(head, file_size);
  if (length == 0 || length > head.size()) return;
  const uint64_t rest = file_size - length;
  const uint32_t after = Crc32OfSuffix(whole_crc, Crc32(head.substr(0, length)), rest);
  by_whole_crc_.try_emplace(whole_crc, Noted{file_size, HeaderlessCrc{after, rest}});
}

std::optional<HeaderlessCrc> HeaderlessCrcs::Find(uint32_t whole_crc, uint64_t file_size) const {
  auto it = by_whole_crc_.find(whole_crc);
  if (it == by_whole_crc_.end() || it->second.file_size != file_size) return std::nullopt;
  return it->second.after;
}

std::optional<HeaderlessCrc> HeaderlessCrcs::Find(uint32_t whole_crc) const {
  auto it = by_whole_crc_.find(whole_crc);
  if (it == by_whole_crc_.end()) return std::nullopt;
  return it->second.after;
}

}  // namespace quorvin
