#include "dat/rom_header.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "dat/crc.h"
#include "dat/crc_combine.h"

namespace quorvin {

namespace {

using namespace std::string_view_literals;

constexpr uint64_t kCopierHeader = 512;

// A Super Nintendo copier header: its first three bytes say the size and the copier's
// settings, and the rest is zero but for the mark a copier may leave (Super Wild Card and
// Super Magicom "AA BB 04" at byte 8, a Pro Fighter's pair at byte 4, a Game Doctor's name at
// byte 0). Random data passes this test almost never.
bool IsSnesCopierHeader(std::string_view head) {
  if (head.size() < kCopierHeader) return false;
  std::array<char, kCopierHeader> h;
  std::memcpy(h.data(), head.data(), h.size());
  auto clear_if = [&h](size_t at, std::string_view mark) {
    if (std::string_view(h.data() + at, mark.size()) == mark) {
      std::fill_n(h.begin() + static_cast<ptrdiff_t>(at), mark.size(), '\0');
    }
  };
  clear_if(8, std::string_view("\xAA\xBB\x04", 3));
  for (std::string_view fig : {"\x77\x83"sv, "\x00\x80"sv, "\xDD\x82"sv, "\xDD\x02"sv, "\xF7\x83"sv,
                               "\xFD\x82"sv, "\x47\x83"sv, "\x11\x02"sv}) {
    clear_if(4, fig);
  }
  clear_if(0, "GAME DOCTOR SF 3"sv);
  return std::all_of(h.begin() + 3, h.end(), [](char c) { return c == '\0'; });
}

// Row makers, so that every row reads as what it tests.
constexpr RomHeaderRule MagicHeader(std::string_view dump, std::string_view extensions,
                                    std::string_view magic, uint32_t offset, uint64_t length) {
  RomHeaderRule r;
  r.dump = dump;
  r.extensions = extensions;
  r.magic = magic;
  r.magic_offset = offset;
  r.header_length = length;
  return r;
}
constexpr RomHeaderRule Growing(RomHeaderRule r, uint32_t byte, uint8_t mask, uint64_t extra) {
  r.extra_byte = byte;
  r.extra_mask = mask;
  r.extra_length = extra;
  return r;
}
constexpr RomHeaderRule SizeHeader(std::string_view dump, std::string_view extensions,
                                   uint64_t modulus, uint64_t remainder, uint64_t length,
                                   bool (*fits)(std::string_view)) {
  RomHeaderRule r;
  r.dump = dump;
  r.extensions = extensions;
  r.size_modulus = modulus;
  r.size_remainder = remainder;
  r.header_length = length;
  r.fits = fits;
  return r;
}
constexpr RomHeaderRule ByteOrder(std::string_view dump, std::string_view extensions,
                                  std::string_view magic, DumpLayout layout) {
  RomHeaderRule r;
  r.dump = dump;
  r.extensions = extensions;
  r.magic = magic;
  r.layout = layout;
  return r;
}

constexpr RomHeaderRule kRules[] = {
    // 16 bytes, and a 512-byte trainer after them when bit 2 of byte 6 is set.
    Growing(MagicHeader("NES (iNES, NES 2.0)", ".nes", "NES\x1A"sv, 0, 16), 6, 0x04, 512),
    MagicHeader("Famicom Disk System (fwNES)", ".fds", "FDS\x1A"sv, 0, 16),
    MagicHeader("Atari Lynx", ".lnx", "LYNX"sv, 0, 64),
    MagicHeader("Atari Lynx (older tools)", ".lnx", "BS9"sv, 6, 64),
    MagicHeader("Atari 7800", ".a78", "ATARI7800"sv, 1, 128),
    SizeHeader("Super Nintendo copier header", ".smc .sfc .swc .fig", 1024, 512, kCopierHeader,
               IsSnesCopierHeader),
    // Often 40 00 00 00 00 00 00 00 AA BB 02, but not always: the size alone decides.
    SizeHeader("PC Engine copier header", ".pce", 8192, 512, kCopierHeader, nullptr),
    ByteOrder("Nintendo 64, byte-swapped", ".v64", "\x37\x80\x40\x12"sv, DumpLayout::kSwap16),
    ByteOrder("Nintendo 64, little-endian", ".n64", "\x40\x12\x37\x80"sv, DumpLayout::kSwap32),
};

bool MagicFits(const RomHeaderRule& rule, std::string_view head) {
  if (rule.magic.empty()) return true;
  return head.size() >= rule.magic_offset + rule.magic.size() &&
         head.substr(rule.magic_offset, rule.magic.size()) == rule.magic;
}

// The header's length when the file fits the header rule, else 0.
uint64_t HeaderFits(const RomHeaderRule& rule, std::string_view head, uint64_t file_size) {
  if (rule.layout != DumpLayout::kHeader || !MagicFits(rule, head)) return 0;
  if (rule.size_modulus != 0 && file_size % rule.size_modulus != rule.size_remainder) return 0;
  uint64_t length = rule.header_length;
  if (rule.extra_mask != 0) {
    // The byte that tells is part of the header: a file too short to hold it has none.
    if (head.size() <= rule.extra_byte) return 0;
    if (static_cast<uint8_t>(head[rule.extra_byte]) & rule.extra_mask) length += rule.extra_length;
  }
  // The header's bytes must be at hand to take them out of the CRC, and some data must
  // follow them.
  if (length == 0 || head.size() < length || file_size <= length) return 0;
  if (rule.fits != nullptr && !rule.fits(head)) return 0;
  return length;
}

size_t UnitOf(DumpLayout layout) {
  return layout == DumpLayout::kSwap16 ? 2 : layout == DumpLayout::kSwap32 ? 4 : 1;
}

// Swaps `size` bytes (a whole number of units) from `in` to `out`, sixteen at a time where
// it can: shifts on vector lanes, which every x86-64 and ARM64 processor has (SSE2, NEON),
// are several times faster than a byte or word loop and keep the swap well below the cost
// of reading the file.
using Lanes16 = uint16_t __attribute__((vector_size(16)));
using Lanes32 = uint32_t __attribute__((vector_size(16)));

void SwapInto(size_t unit, const uint8_t* in, uint8_t* out, size_t size) {
  size_t i = 0;
  if (unit == 2) {
    for (; i + 16 <= size; i += 16) {
      Lanes16 w;
      std::memcpy(&w, in + i, 16);
      w = (w << 8) | (w >> 8);
      std::memcpy(out + i, &w, 16);
    }
  } else {
    for (; i + 16 <= size; i += 16) {
      Lanes16 w;
      std::memcpy(&w, in + i, 16);
      w = (w << 8) | (w >> 8);
      Lanes32 x;
      std::memcpy(&x, &w, 16);
      x = (x << 16) | (x >> 16);
      std::memcpy(out + i, &x, 16);
    }
  }
  for (; i < size; i += unit) {
    for (size_t k = 0; k < unit; ++k) out[i + k] = in[i + unit - 1 - k];
  }
}

// Swapped bytes are checksummed in pieces of this size, which stay in the processor's cache.
constexpr size_t kScratch = size_t{64} * 1024;

}  // namespace

std::span<const RomHeaderRule> RomHeaderRules() { return kRules; }

uint64_t RomHeaderLength(std::string_view head, uint64_t file_size) {
  for (const RomHeaderRule& rule : kRules) {
    if (uint64_t length = HeaderFits(rule, head, file_size); length != 0) return length;
  }
  return 0;
}

bool FitsNoRule(std::string_view head, uint64_t file_size) {
  // The candidates come from the header rules a file fits and from the byte-order rules
  // whose mark it carries.
  return RomHeaderLength(head, file_size) == 0 && !SwappedLayoutOf(head);
}

std::optional<DumpLayout> SwappedLayoutOf(std::string_view head) {
  for (const RomHeaderRule& rule : kRules) {
    if (rule.layout != DumpLayout::kHeader && MagicFits(rule, head)) return rule.layout;
  }
  return std::nullopt;
}

SwappedCrc::SwappedCrc(DumpLayout layout)
    : unit_(UnitOf(layout)), scratch_(new uint8_t[kScratch]) {}

void SwappedCrc::Update(const uint8_t* data, size_t size) {
  // Complete a word begun in the previous piece.
  while (pending_size_ > 0 && pending_size_ < sizeof pending_ && size > 0) {
    pending_[pending_size_++] = *data++;
    --size;
    if (pending_size_ == unit_) {
      uint8_t swapped[4];
      SwapInto(unit_, pending_, swapped, unit_);
      reg_ = Crc32Update(reg_, swapped, unit_);
      pending_size_ = 0;
    }
  }
  while (size >= unit_) {
    const size_t take = std::min(size - size % unit_, kScratch);
    SwapInto(unit_, data, scratch_.get(), take);
    reg_ = Crc32Update(reg_, scratch_.get(), take);
    data += take;
    size -= take;
  }
  if (size > 0) {
    // Less than a word is left, and no word is begun (the first loop finished any).
    const size_t n = std::min(size, sizeof pending_);
    std::memcpy(pending_, data, n);
    pending_size_ = n;
  }
}

std::optional<uint32_t> SwappedCrc::Finish() const {
  if (pending_size_ != 0) return std::nullopt;
  return ~reg_;
}

std::vector<HeaderlessCrc> HeaderlessCandidates(std::string_view head, uint64_t file_size,
                                                uint32_t whole_crc,
                                                std::optional<uint32_t> swapped_crc) {
  std::vector<HeaderlessCrc> out;
  auto add = [&out](HeaderlessCrc c) {
    if (std::find(out.begin(), out.end(), c) == out.end()) out.push_back(c);
  };
  for (const RomHeaderRule& rule : kRules) {
    if (rule.layout == DumpLayout::kHeader) {
      const uint64_t length = HeaderFits(rule, head, file_size);
      if (length == 0) continue;
      const uint64_t rest = file_size - length;
      add({Crc32OfSuffix(whole_crc, Crc32(head.substr(0, length)), rest), rest});
    } else if (swapped_crc && file_size > 0 && MagicFits(rule, head) &&
               file_size % UnitOf(rule.layout) == 0 && SwappedLayoutOf(head) == rule.layout) {
      add({*swapped_crc, file_size});
    }
  }
  return out;
}

void HeaderlessCrcs::Note(std::string_view head, uint64_t file_size, uint32_t whole_crc,
                          std::optional<uint32_t> swapped_crc) {
  const Key key{whole_crc, file_size};
  if (noted_.contains(key)) return;
  std::vector<HeaderlessCrc> candidates =
      HeaderlessCandidates(head, file_size, whole_crc, swapped_crc);
  if (!candidates.empty()) noted_.emplace(key, std::move(candidates));
}

std::span<const HeaderlessCrc> HeaderlessCrcs::Find(uint32_t whole_crc, uint64_t file_size) const {
  auto it = noted_.find(Key{whole_crc, file_size});
  if (it == noted_.end()) return {};
  return it->second;
}

}  // namespace quorvin
