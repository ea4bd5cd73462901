#pragma once

#include <string_view>

namespace quorvin {

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
};

// A database that knows nothing: every game is written as it stands.
class EmptyGoodNames : public GoodNameLookup {
 public:
  std::string_view LookupCrcInfo(std::string_view) const override { return {}; }
};

}  // namespace quorvin
