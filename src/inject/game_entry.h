#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inject/good_name_lookup.h"

namespace quorvin {

// The lines of one game block of the temporary dat, as the compare pass hands them over.
struct GameLines {
  std::string name_line;         // TAB "name " token
  std::string description_line;  // TAB "description " quoted name
  std::string rom_line;          // TAB "rom ( name " token " size " n " crc " hex " )"
  // An archive's further rom lines, one per member after the first, in its order.
  std::vector<std::string> more_rom_lines;
};

// How a game's good name is found and given.
struct EntryOptions {
  // The game is an archive: its good name comes from all of its rom lines together
  // (GoodNameLookup::LookupArchive), and its rom lines, which name its members, never change.
  // An archive named by the software's short name takes the good name in the dat but keeps
  // its file name (nothing is recorded for it).
  bool archive = false;
  // The game keeps its name and lines whatever the database says (a damaged archive).
  bool keep_name = false;
  // How messages name the archive ("the archive mycart.zip").
  std::string label;
};

// What the game entry writer makes of a game: its rewritten lines, the extra lines (empty:
// not written), and the rename to record (both empty: none).
struct GameEntry {
  GameLines lines;
  std::string year_line;
  std::string manufacturer_line;
  std::string driver_line;
  std::string old_name;   // the name token of the temporary dat
  std::string good_name;  // the good name's token (quoted when it holds a blank, cleaned)
  std::string problem;    // what to report about the game (a good name that cannot be used)

  // The lines in the order a dat writes them.
  std::string ToDat() const;
};

// The CRC text of a rom line: what stands after its last " crc " and before its closing
// " )", without blanks around it. Empty when the line has no " crc ".
std::string CrcTextOf(std::string_view rom_line);

// The size of a rom line: the decimal number between its " size " and its last " crc ". None
// when the line has no such number.
std::optional<uint64_t> SizeOf(std::string_view rom_line);

// Looks the game's CRC up and rewrites its lines with the good name: the name line and the
// rom line take the good name's token (":", "\", "/", "?", "*" and double quotes removed;
// quoted as DatToken quotes, or only for a blank when the database KeepsBareParentheses),
// the description the good name in quotes (DatQuoted); year (DatToken), manufacturer
// (DatQuoted) and driver lines (quoted when the notes hold a parenthesis) are added from the
// entry's second to fourth fields, all dat-safe. Control characters of the entry are
// removed first. Replacements are made only where the old name stands
// as the game's name, never in the keywords before it. A game without an entry, or whose rom line
// does not carry its name, keeps those lines unchanged; a good name that is empty once
// cleaned changes no name, records nothing, and is described in `problem`.
// The lookup goes by the rom line's CRC and size (GoodNameLookup::LookupRom); a game that fits
// several entries equally well keeps its name, and is described in `problem` too.
// Archives: see EntryOptions; members that lead to more than one good name leave the game as
// it stands, with the names in `problem`.
GameEntry PrintGameEntry(const GameLines& game, const GoodNameLookup& db,
                         const EntryOptions& options = {});

}  // namespace quorvin
