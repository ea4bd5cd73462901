#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/profile.h"
#include "platform/status.h"

namespace quorvin {

// The per-system file of renames, "conversions/<system>.cnv": section "Conversion" maps old
// names to good names, section "Reversion" good names back to old names. Names are stored
// without extension, in their own letter case; keys match without regard to letter case, so
// a file written all in upper case (as earlier versions did) still reads. A name that
// begins or ends with blanks or TABs, or begins with "[", is stored in double quotes (which
// no stored name holds), so that it reads back exactly.
// Entries are never removed. The table is read once; what a session records is kept in
// memory (lookups see it at once) until Save writes the file atomically.
class ConversionTable {
 public:
  // Reads the file; a missing file gives an empty table. Io naming the file when unreadable.
  static Result<ConversionTable> Load(const std::string& path);

  // Records one rename. The old name is a dat's name token (wrapped in double quotes when it
  // holds a blank; the quotes are taken off); double quotes are removed from the new name.
  // A pair is recorded whole or not at all; nothing is recorded, returning Ok, when a side
  // is empty once blanks and TABs are trimmed, or when the names are equal without regard to
  // letter case (a second run over renamed files must not replace the entry that holds a
  // file's earlier name). Not recorded, with a message naming the names:
  //  - InvalidInput: an old name holding a double quote (its file could never be found
  //    again); a name holding "=", a line break or NUL; a new name that is "." or "..", or
  //    begins with "." (the file would be hidden, or leave its folder);
  //  - Refused: an old name that differs only in letter case from one recorded earlier in
  //    the session (the two are ambiguous: the earlier pair is taken back too, and neither
  //    is renamed); a new name another old name was given (or already carried) in the
  //    session; a new name whose "Reversion" entry holds another file's earlier name while a
  //    file still carries that new name (see SetCarriedCheck).
  Status RecordConversion(std::string_view old_name, std::string_view new_name);
  // The good name recorded for an old name (any letter case); empty when none, or when the
  // name is ambiguous or holds a double quote.
  std::string LookupConversion(std::string_view name) const;
  // The old name recorded for a good name; empty when none.
  std::string LookupReversion(std::string_view name) const;

  // Tells whether some file still carries a name (without extension, any letter case): an
  // existing "Reversion" entry of that name is then the only way back for that file, and is
  // never replaced by another old name. Without a check every name counts as carried.
  void SetCarriedCheck(std::function<bool(std::string_view name)> carried) {
    carried_ = std::move(carried);
  }

  // Writes the file atomically when anything was recorded. Io naming the file on failure
  // (what was recorded stays in memory).
  Status Save();
  const std::string& path() const { return path_; }

 private:
  struct Pair {
    std::string old_name;
    std::string new_name;
    bool dropped = false;  // taken back: its old name turned out ambiguous
  };
  const Pair* PendingByOld(const std::string& upper_old) const;
  std::string path_;
  ProfileFile file_;           // as read, plus what earlier Saves wrote
  std::vector<Pair> pending_;  // recorded since the last Save, in order
  std::unordered_map<std::string, size_t> pending_by_old_;  // upper-cased -> latest pair
  std::unordered_map<std::string, size_t> pending_by_new_;  // upper-cased -> latest pair
  std::unordered_map<std::string, std::string> claimed_;    // upper-cased good name -> old
  std::unordered_set<std::string> ambiguous_;               // upper-cased old names
  std::function<bool(std::string_view)> carried_;
};

// conversions_folder + "<system>.cnv".
std::string ConversionFilePath(const std::string& conversions_folder, std::string_view system);

}  // namespace quorvin
