#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "dat/hash_pool.h"
#include "dat/rom_header.h"
#include "platform/reporter.h"
#include "platform/status.h"

namespace quorvin {

// What the scan needs of the run's settings, already validated and completed.
struct DatScanInput {
  std::string system_name;  // header name (trimmed when written)
  std::string description;
  std::string author;
  std::string rom_folders;  // folders separated by ";"
  std::string extension;    // begins with "."
  // Archives only: inflate every member and compare its data with the stored CRC.
  bool verify = false;
};

// True for the extension that makes every archive of the folders one game (".zip" in any
// letter case).
bool IsArchiveExtension(std::string_view extension);

// The folders of a ";"-separated list, trimmed of blanks; pieces that are empty after
// trimming are left out (an empty piece never means the root folder).
std::vector<std::string> FolderList(std::string_view folders);

// The game name of a ROM file: its name less the extension that matched (as many characters
// as `extension` holds).
std::string GameNameOf(std::string_view file_name, std::string_view extension);

// The rom line of one ROM file (without line end): name token, size and CRC-32.
// NotFound / Io naming the file when it cannot be read.
Result<std::string> MakeRomLine(const std::string& full_path, std::string_view extension);

// A ROM whose name renaming must leave alone this run: one the dat leaves out, or names
// otherwise than its file. `name` is the game name concerned (any ROM of that name, in any
// folder, is left alone too); `why` says so, naming the file, for a rename asked for it.
struct LeftOutRom {
  std::string name;
  std::string why;
};

// Writes the temporary dat at `temp_dat_path`: the header block, then one game block per ROM
// file of every folder, folder by folder, each in name order. Every folder is listed before
// anything is written; a missing folder, or one that cannot be listed, stops the scan with a
// Status that names it before anything is written. Names are written dat-safe (NameToken): a
// name's double quotes are left out. A file whose name holds a control character (a line
// break would split the dat's lines) is left out and reported as a warning. Every file is
// opened without waiting and checked to be a regular file before a byte is read; one that
// is not, or that cannot be opened or read (gone since the listing, no permission, a read
// error half-way), is left out of the dat and reported as a warning naming it and the
// reason; the scan goes on. Each ROM left out, and each whose name held a double quote, is
// added to `left_out` (when given) for the renaming stages. The user's Stop ends the scan
// within a fraction of a second, even in the middle of a large file: Stopped, and the file
// at `temp_dat_path` left as it was.
//
// With the archive extension (IsArchiveExtension) every archive is one game, named by the
// archive's name less the extension, with one rom line per member (the member's path as
// stored, its size and CRC from the central directory), in the archive's order; an archive
// without members is a game without rom lines. An archive that cannot be read (damaged, not
// a zip) is a warning naming it and is left out of the dat; a member whose name holds a
// control character is left out with a warning. With `input.verify`, every member is
// inflated: one whose data does not match its stored CRC is a warning naming the archive
// and the member, and its rom line gives the CRC and size of the data as read; a member
// that cannot be checked (encrypted, a method that cannot be inflated) is a warning too.
// The names of the archives so warned about (their game names) go to `held_back`: they keep
// their names, whatever a database says. Archive and member names are written dat-safe too.
//
// When `headerless` is given, every file that fits a rule of RomHeaderRules (a header, or a
// byte order, recognised by its content) is noted there with the size and CRC of its
// cartridge data, from the same read; so is a lone member of an archive that fits a header
// rule, of which only the first bytes are inflated (16, or the rules' 528 when those are not
// enough; byte orders need the whole data and are not looked for in archives). The dat
// itself is the same either way.
// With a cache (see ParallelHasher), loose files whose record matches are not read; the
// cache's warnings are passed to `reporter` as they arise. The dat is the same with or without
// it. An archive's listing always comes from its central directory, which costs little more
// than a record would; with `input.verify`, an archive whose members all matched their
// directory is recorded under the identity of the archive as opened, and a later run that
// finds the archive in exactly that state does not inflate it again (with `cache.rehash`, it
// does, and records it afresh). An archive with anything to warn about is never recorded.
Status MakeDat(const DatScanInput& input, const std::string& temp_dat_path, Reporter& reporter,
               HeaderlessCrcs* headerless = nullptr, std::vector<LeftOutRom>* left_out = nullptr,
               HashCacheUse cache = HashCacheUse(), std::vector<std::string>* held_back = nullptr);

}  // namespace quorvin
