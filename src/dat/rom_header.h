#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quorvin {

// Many dumps on users' disks are not the bare cartridge data that a software list describes:
// a copier or emulator put a header of its own before it (".nes", ".fds", ".lnx", ".a78",
// copier ".smc"/".swc"/".fig", ".pce"), or the data is stored in another byte order (Nintendo 64
// ".v64" and ".n64"). The rules below recognise such dumps by their content, never by their
// name, and give the (size, CRC-32) the cartridge data would have. A rule is only a guess: a
// lookup must still find an entry of that exact size and CRC, so a wrong guess finds nothing.

// What a rule does to a dump to get the cartridge data.
enum class DumpLayout : uint8_t {
  kHeader,  // leave out the first header_length bytes
  kSwap16,  // swap the two bytes of every 16-bit word (".v64")
  kSwap32,  // reverse the four bytes of every 32-bit word (".n64")
};

// One kind of dump. A dump fits the rule when every test given holds: `magic` stands at
// `magic_offset`; the file's size leaves `size_remainder` when divided by `size_modulus`;
// `fits` accepts the first bytes. A header rule also needs data after the header.
struct RomHeaderRule {
  std::string_view dump;        // for people: what the rule recognises
  std::string_view extensions;  // for people: the extensions such dumps usually carry
  std::string_view magic;       // empty: no magic is asked for
  uint32_t magic_offset = 0;
  uint64_t size_modulus = 0;  // 0: no size test
  uint64_t size_remainder = 0;
  uint64_t header_length = 0;  // kHeader: the bytes left out
  // The header is `extra_length` bytes longer when byte `extra_byte` has a bit of
  // `extra_mask` set (the iNES trainer); no extra when the mask is 0.
  uint32_t extra_byte = 0;
  uint8_t extra_mask = 0;
  uint64_t extra_length = 0;
  bool (*fits)(std::string_view head) = nullptr;  // null: no test of the header's bytes
  DumpLayout layout = DumpLayout::kHeader;
};

// Every rule, in the order they are tried. Adding a kind of dump is one row of this table,
// and one more to kRomHeaderRulesVersion.
std::span<const RomHeaderRule> RomHeaderRules();

// Changes whenever a rule is added or changed: a file found to fit no rule by an earlier
// table may fit one now.
inline constexpr int kRomHeaderRulesVersion = 1;

// How many bytes of a file's beginning the rules look at: the scan keeps this many.
inline constexpr size_t kRomHeadBytes = 16 + 512;

// The length of the header of the first header rule that a file beginning with `head` (its
// first bytes, up to kRomHeadBytes of them) and of `file_size` bytes fits, or 0 when it
// fits none. A file that is nothing but a header, or shorter than its header, fits none.
uint64_t RomHeaderLength(std::string_view head, uint64_t file_size);

// True when a file beginning with `head` (as for RomHeaderLength) and of `file_size` bytes
// fits no rule at all: HeaderlessCandidates gives nothing for it, whatever its CRCs.
bool FitsNoRule(std::string_view head, uint64_t file_size);

// The byte-order rule whose mark the first four bytes of a file carry, if any: only for
// these files is a CRC of the swapped bytes worth computing while the file is read.
std::optional<DumpLayout> SwappedLayoutOf(std::string_view head);

// The CRC-32 of a stream in another byte order, fed piece by piece as it is read (pieces of
// any length: a word may be split between two pieces).
class SwappedCrc {
 public:
  explicit SwappedCrc(DumpLayout layout);
  void Update(const uint8_t* data, size_t size);
  // The CRC of every byte fed, swapped; none when their number is not a whole number of
  // words (then there is no such order to speak of).
  std::optional<uint32_t> Finish() const;

 private:
  size_t unit_;
  uint32_t reg_ = 0xFFFFFFFFu;
  uint8_t pending_[4] = {};
  size_t pending_size_ = 0;
  std::unique_ptr<uint8_t[]> scratch_;
};

// The (size, CRC-32) of a file's cartridge data under one rule.
struct HeaderlessCrc {
  uint32_t crc = 0;
  uint64_t size = 0;
  bool operator==(const HeaderlessCrc&) const = default;
};

// Every (size, CRC-32) the file's cartridge data may have, one per distinct result of the
// rules it fits, in table order: from its first bytes (`head`: kRomHeadBytes of them, or
// the whole file when it is shorter; fewer make the rules that need more fit nothing), its
// size and its whole CRC-32. No byte is read again: the CRC after a header follows from the
// whole CRC. The byte-order rules need `swapped_crc`, the CRC of the file in the order its
// mark names (see SwappedLayoutOf and SwappedCrc); without it they give nothing. Empty for a
// file that fits no rule.
std::vector<HeaderlessCrc> HeaderlessCandidates(std::string_view head, uint64_t file_size,
                                                uint32_t whole_crc,
                                                std::optional<uint32_t> swapped_crc = {});

// What the scan learns about dumps for the lookup: for each file that fits a rule, by its
// whole CRC-32 and size, its candidates. Files with equal whole CRCs and sizes are taken to
// hold the same bytes (the first one noted counts).
class HeaderlessCrcs {
 public:
  // Notes a file (arguments as for HeaderlessCandidates). A file that fits no rule is not noted.
  void Note(std::string_view head, uint64_t file_size, uint32_t whole_crc,
            std::optional<uint32_t> swapped_crc = {});
  // The candidates of the file noted with this whole CRC and size; empty when there is none.
  std::span<const HeaderlessCrc> Find(uint32_t whole_crc, uint64_t file_size) const;
  size_t size() const { return noted_.size(); }
  bool empty() const { return noted_.empty(); }

 private:
  struct Key {
    uint32_t crc;
    uint64_t size;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& k) const {
      return std::hash<uint64_t>()(k.size * 0x9E3779B97F4A7C15ull ^ k.crc);
    }
  };
  std::unordered_map<Key, std::vector<HeaderlessCrc>, KeyHash> noted_;
};

}  // namespace quorvin
