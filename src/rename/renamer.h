#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/reporter.h"
#include "rename/conversion_table.h"

namespace quorvin {

enum class RenameMode {
  kRename,  // old names to good names ("Conversion")
  kRevert,  // good names back to old names ("Reversion")
};

struct RenameCounts {
  size_t renamed = 0;
  size_t skipped = 0;  // files that had a new name but were left alone (each reported)
  bool stopped = false;  // the reporter asked to stop; the files after the last one done
                         // were not looked at
};

// Renames the ROM files ("*" + extension) of the ";"-separated folders by the table. A file's
// base name is its name less `extension`'s length; its new name is the table's entry for the
// upper-cased base name followed by `extension` as written. Files without an entry, or whose
// base name already is the entry, are left alone silently.
//
// No file is ever lost or overwritten: each rename is one atomic rename in the same folder;
// a file whose new name is taken by another file, whose new name would leave the folder
// (a separator, NUL, "." or ".."), or that vanished since the listing, is left alone and
// reported; a missing folder is reported and skipped.
RenameCounts RenameRoms(std::string_view folders, std::string_view extension,
                        const ConversionTable& table, RenameMode mode, Reporter& reporter);

// The same for every file ("*.*") of the artwork folders: the base name is the name less its
// last extension (from its last "."), which the file keeps.
RenameCounts RenameArtwork(std::string_view folders, const ConversionTable& table, RenameMode mode,
                           Reporter& reporter);

}  // namespace quorvin
