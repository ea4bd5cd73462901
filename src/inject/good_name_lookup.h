#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorvin {

// One rom of a game as the dat lists it.
struct RomKey {
  uint32_t crc = 0;
  uint64_t size = 0;
  friend bool operator==(const RomKey&, const RomKey&) = default;
};

// What a database makes of an archive's roms.
struct ArchiveMatch {
  std::string_view entry;       // as LookupCrcInfo gives it; empty: no good name
  std::string_view short_name;  // the software's short name, when the database has one
  // Set when the roms lead to more than one good name: each entry found, and `entry` empty.
  std::vector<std::string_view> conflicting;
};

// What the compare pass asks of a good-name database, whichever file it was read from (a
// "crc/<system>.crc" file or a "hash/<system>.xml" software list).
class GoodNameLookup {
 public:
  virtual ~GoodNameLookup() = default;
  // The entry for a CRC text as a dat's rom line writes it (upper-case hex without leading
  // zeros): up to four "|"-separated fields, good name | year | manufacturer | driver
  // details. The empty text when the database has none. The view stays valid as long as the
  // database.
  virtual std::string_view LookupCrcInfo(std::string_view crc_text) const = 0;
  // True when a good name that holds a parenthesis but no blank is written in a dat without
  // double quotes, as the dats made from the old CRC files always have been; otherwise such a
  // name is quoted, as DatToken quotes.
  virtual bool KeepsBareParentheses() const { return false; }

  // What the lookup of one ROM file gives.
  struct Match {
    std::string_view value;  // the entry, as LookupCrcInfo gives it; empty: none
    // When several entries fit the file equally well (its data after a header, or in
    // another byte order, has the size and CRC of more than one): each of them, and no
    // `value`. Views valid as long as the database.
    std::vector<std::string_view> ambiguous;
  };
  // The entry for a ROM file of `size` bytes (none: not known) whose CRC text is
  // `crc_text`. A database that knows its roms' sizes takes only an entry of that size; one
  // that does not (a CRC database) answers as LookupCrcInfo.
  virtual Match LookupRom(std::string_view crc_text, std::optional<uint64_t> size) const {
    (void)size;
    return Match{LookupCrcInfo(crc_text), {}};
  }

  // The good name of an archive from its roms, in its order. This one asks LookupCrcInfo for
  // every rom: the roms that are known must all lead to one good name (entries whose first
  // field is the same count as one; the first one found is given); more than one is a
  // conflict.
  virtual ArchiveMatch LookupArchive(const std::vector<RomKey>& roms) const;
};

// A database that knows nothing: every game is written as it stands.
class EmptyGoodNames : public GoodNameLookup {
 public:
  std::string_view LookupCrcInfo(std::string_view) const override { return {}; }
};

}  // namespace quorvin
