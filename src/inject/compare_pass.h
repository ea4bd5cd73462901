#pragma once

#include <string>
#include <vector>

#include "dat/dat_writer.h"
#include "inject/good_name_lookup.h"
#include "platform/reporter.h"
#include "platform/status.h"
#include "rename/conversion_table.h"

namespace quorvin {

// The MESS stage: walks the temporary dat game by game, copies the header and each block's
// framing lines, and writes every game through the game entry writer into the output dat,
// recording each rename in `table` (when there is one; every game of the scan's shape is
// passed to it, one without a rename with an empty good name). The pass goes block by block, a
// block running from a "game (" line to its closing ")" (or to the next "game (" line, or
// the end of the file): one in the scan's shape (name line, description line, then a rom
// line, with any other lines kept where they stand) goes through the entry writer; any other
// block is written as it stands. Lines never move from one block to another. A rename the table
// refuses (two games with one good name, a name the file cannot hold) is reported and the file
// keeps its name. The output dat is written atomically, in the format its name chooses
// (DatFormatOf): on any failure (naming the file) it is left as it was.
//
// With `archives` set, every game is an archive (named by its name and `extension` in
// messages): all of its rom lines, one per member, go to the entry writer together, and a
// game whose name is in `keep_names` (a damaged archive) is written as it stands and keeps
// its name. Members that lead to more than one good name are a warning.
struct CompareOptions {
  bool archives = false;
  std::string extension;
  std::vector<std::string> keep_names;
};
Status ComparePass(const std::string& temp_dat_path, const std::string& output_dat_path,
                   const GoodNameLookup& db, ConversionTable* table, Reporter& reporter,
                   const CompareOptions& options = {});
// The same pass into any dat writer; `out` is not committed.
Status ComparePass(const std::string& temp_dat_path, DatWriter& out, const GoodNameLookup& db,
                   ConversionTable* table, Reporter& reporter, const CompareOptions& options = {});

}  // namespace quorvin
