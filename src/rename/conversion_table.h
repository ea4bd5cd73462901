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
  // holds a blank or a parenthesis; the quotes are taken off); double quotes are removed from the
  // new name. Every game of the run is passed, those without a good name with an empty new name: a
  // ROM that keeps its name. A pair is recorded whole or not at all; nothing is recorded,
  // returning Ok, when a side is empty once blanks and TABs are trimmed, or when the names
  // are equal without regard to letter case (a second run over renamed files must not
  // replace the entry that holds a file's earlier name). Not recorded, with a message naming
  // the names:
  //  - InvalidInput: an old name holding a double quote (its file could never be found
  //    again); a name holding "=", a line break or NUL; a new name that is "." or "..", or
  //    begins with "." (the file would be hidden, or leave its folder);
  //  - Refused: an old name passed earlier in the session under another letter case, or
  //    with another new name (two ROMs of one name in two folders that are different games):
  //    the name is ambiguous, the earlier pair is taken back too, and none of them is
  //    renamed; a new name another old name was given in the session; a new name that a ROM
  //    of the session already carries (it keeps that name): a pair recorded earlier with
  //    that new name is taken back; a new name whose "Reversion" entry holds another file's
  //    earlier name while a file still carries that new name (see SetCarriedCheck).
  Status RecordConversion(std::string_view old_name, std::string_view new_name);
  // The good name recorded for an old name (any letter case); empty when none, or when the
  // name is ambiguous, its pair was taken back or refused in this session, or it holds a
  // double quote.
  std::string LookupConversion(std::string_view name) const;
  // The old name recorded for a good name; empty when none.
  std::string LookupReversion(std::string_view name) const;

  // Leaves a name out of this session's renaming: no pair is recorded for it (a
  // RecordConversion of it is Refused with `why`) and no entry, an earlier run's included,
  // renames a file of that name (any letter case) or its artwork. For a ROM the dat left out,
  // or named otherwise than its file.
  void LeaveOut(std::string_view name, std::string why);

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
  Status Record(std::string_view old_token, std::string_view new_token);
  const Pair* PendingByOld(const std::string& upper_old) const;
  // Takes back the pending pairs `which` selects; their old names are then renamed by none.
  void Withhold(const std::function<bool(const Pair&)>& which);
  struct Seen {
    std::string old_name;      // as first passed
    std::string target_upper;  // upper-cased new name, or old name when it keeps its name
  };
  std::string path_;
  ProfileFile file_;           // as read, plus what earlier Saves wrote
  std::vector<Pair> pending_;  // recorded since the last Save, in order
  std::unordered_map<std::string, size_t> pending_by_old_;  // upper-cased -> latest pair
  std::unordered_map<std::string, size_t> pending_by_new_;  // upper-cased -> latest pair
  std::unordered_map<std::string, std::string> claimed_;    // upper-cased good name -> old
  std::unordered_set<std::string> ambiguous_;               // upper-cased old names
  std::unordered_map<std::string, std::string> left_out_;   // upper-cased name -> why
  std::unordered_set<std::string> withheld_;    // upper-cased old names of taken-back pairs
  std::unordered_map<std::string, Seen> seen_;  // upper-cased old name -> first passed
  std::function<bool(std::string_view)> carried_;
};

// conversions_folder + "<system>.cnv".
std::string ConversionFilePath(const std::string& conversions_folder, std::string_view system);

}  // namespace quorvin
