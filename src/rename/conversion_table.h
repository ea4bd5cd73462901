#pragma once

#include <string>
#include <string_view>
#include <unordered_map>

#include "platform/profile.h"
#include "platform/status.h"

namespace quorvin {

// The per-system file of renames, "conversions/<system>.cnv": section "Conversion" maps old
// names to good names, section "Reversion" good names back to old names. Names are stored
// without extension and without double quotes, in upper case. Entries are never removed.
// The table is read once and kept in memory; Save writes it back atomically.
class ConversionTable {
 public:
  // Reads the file; a missing file gives an empty table. Io naming the file when unreadable.
  static Result<ConversionTable> Load(const std::string& path);

  // Records one rename. Names equal once quotes are removed and letters upper-cased, or with
  // an empty side, are not recorded (a second run over renamed files must not replace the
  // entry that holds a file's earlier name). InvalidInput, recording nothing, for a name the
  // file cannot hold as a key (one with "=" or a line break, or beginning with "[").
  // Refused, recording nothing, for a good name that another old name was given (or already
  // carried) since the table was loaded: its file could not take the name, and its entry
  // would hide the first one's way back.
  Status RecordConversion(std::string_view old_name, std::string_view new_name);
  // The good name recorded for an old name (given in upper case); empty when none.
  std::string LookupConversion(std::string_view name) const;
  // The old name recorded for a good name; empty when none.
  std::string LookupReversion(std::string_view name) const;

  // Writes the file atomically when anything was recorded. Io naming the file on failure.
  Status Save();
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  ProfileFile file_;
  bool dirty_ = false;
  std::unordered_map<std::string, std::string> recorded_;  // good name -> old name, this session
};

// conversions_folder + "<system>.cnv".
std::string ConversionFilePath(const std::string& conversions_folder, std::string_view system);

}  // namespace quorvin
