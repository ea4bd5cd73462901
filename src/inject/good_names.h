#pragma once

#include <memory>
#include <string>

#include "dat/rom_header.h"
#include "inject/good_name_lookup.h"
#include "platform/reporter.h"
#include "platform/status.h"

namespace quorvin {

// The database a run reads for `system` in the emulator's folder: "crc/<system>.crc" when
// that file exists; otherwise "hash/<system>.xml" (a software list) when that exists;
// otherwise the ".crc" path, where nothing is found.
std::string GoodNamesPath(const std::string& mess_folder, const std::string& system);

// A system's database, opened.
struct GoodNames {
  std::unique_ptr<GoodNameLookup> lookup;  // never null
  std::string path;                        // the file read; empty when there was none
};

// Opens the system's database (see GoodNamesPath) and says on the status line which file is
// used: "Status:  Using CRC database crc/<system>.crc", "Status:  Using software list
// hash/<system>.xml", or "Status:  No CRC database or software list for <system>". A
// software list finds headered files through `headerless` (may be null). A software list
// that cannot be read or is not well-formed is a warning naming the file (and the line of
// the error); the database is then empty, so the run goes on and every game is written as
// it stands. A ".crc" file that exists but cannot be read returns its Io status.
Result<GoodNames> OpenGoodNames(const std::string& mess_folder, const std::string& system,
                                const HeaderlessCrcs* headerless, Reporter& reporter);

}  // namespace quorvin
