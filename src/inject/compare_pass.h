#pragma once

#include <string>

#include "inject/crc_database.h"
#include "platform/reporter.h"
#include "platform/status.h"
#include "rename/conversion_table.h"

namespace quorvin {

// The MESS stage: walks the temporary dat game by game, copies the header and each block's
// framing lines, and writes every game through the game entry writer into the output dat,
// recording each rename in `table` (when there is one). A game block without its rom line
// is written as it stands, ending at its closing ")". A rename the table refuses (two games
// with one good name, a name the file cannot hold) is reported and the file keeps its name.
// The output dat is written atomically: on any failure (naming the file) it is left as it was.
Status ComparePass(const std::string& temp_dat_path, const std::string& output_dat_path,
                   const CrcDatabase& db, ConversionTable* table, Reporter& reporter);

}  // namespace quorvin
