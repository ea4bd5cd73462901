#pragma once

#include <string>
#include <string_view>

#include "inject/good_name_lookup.h"
#include "platform/profile.h"
#include "platform/status.h"

namespace quorvin {

// One system's section of the emulator's CRC database ("crc/<system>.crc"), read once into a
// hash map with the profile reader's rules: section and key without regard to letter case,
// blanks around keys removed, the first section and the first key of a name counting.
class CrcDatabase : public GoodNameLookup {
 public:
  CrcDatabase() = default;
  // Reads the section named after the system (the file's name less its extension) from the
  // file. A missing file gives an empty database: every lookup finds nothing. Io naming the
  // file when it exists but cannot be read.
  static Result<CrcDatabase> Load(const std::string& path);

  // The database value for a CRC text as a dat's rom line writes it (upper-case hex without
  // leading zeros); when that finds nothing, the same text padded with zeros to eight digits,
  // as the databases write their keys. The empty text when neither is there.
  // The view stays valid as long as the database.
  std::string_view LookupCrcInfo(std::string_view crc_text) const override;
  bool KeepsBareParentheses() const override { return true; }
  size_t size() const { return section_.entries().size(); }

 private:
  ProfileSection section_;
};

// The section a database file's entries stand in: the file name less its last four
// characters ("/mess/crc/nes.crc" gives "nes").
std::string SectionNameOf(std::string_view crc_database_path);

}  // namespace quorvin
