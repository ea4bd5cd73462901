#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_set>

#include "platform/reporter.h"
#include "rename/conversion_table.h"

namespace quorvin {

enum class RenameMode {
  kRename,  // old names to good names ("Conversion")
  kRevert,  // good names back to old names ("Reversion")
};

struct RenameCounts {
  size_t renamed = 0;
  size_t skipped = 0;    // files that had a new name but were left alone (each reported)
  bool stopped = false;  // the reporter asked to stop; the files after the last one done
                         // were not looked at
};

// Renames the ROM files ("*" + extension) of the ";"-separated folders by the table. A file's
// base name is its name less `extension`'s length; its new name is the table's entry for the
// base name (looked up without regard to letter case) followed by the file's own extension
// (its last `extension`-length characters, which match `extension` but for letter case).
// Files without an entry, or whose base name already is the entry, are left alone silently.
//
// No file is ever lost or overwritten: each rename is one atomic rename in the same folder.
// Left alone and reported: when renaming, a file whose new name's "Reversion" entry does
// not lead back to its base name (a revert could not bring it back); a file whose new name
// another entry of the folder has under any
// letter case; a file whose base name another listed file has but for letter case (the
// table cannot tell them apart); a file whose new name would leave the folder or hide the
// file (a separator, NUL, a control character, "." or "..", a leading "."); a file that
// vanished since the listing. A missing folder is reported and skipped.
// Files whose upper-cased base name is in `keep` are left alone silently (they have been
// reported already).
RenameCounts RenameRoms(std::string_view folders, std::string_view extension,
                        const ConversionTable& table, RenameMode mode, Reporter& reporter,
                        const std::unordered_set<std::string>* keep = nullptr);

// The same for every file ("*.*") of the artwork folders: the base name is the name less its
// last extension (from its last "."), which the file keeps.
RenameCounts RenameArtwork(std::string_view folders, const ConversionTable& table, RenameMode mode,
                           Reporter& reporter,
                           const std::unordered_set<std::string>* keep = nullptr);

// The base names (upper-cased) that the files of the ROM folders and the artwork folders
// carry, by the rules of the two passes above: what RenameRoms and RenameArtwork would look
// up. Folders that cannot be listed add nothing.
std::unordered_set<std::string> CarriedNames(std::string_view rom_folders,
                                             std::string_view extension,
                                             std::string_view artwork_folders);

}  // namespace quorvin
