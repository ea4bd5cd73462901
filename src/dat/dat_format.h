#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/fileops.h"

// The lines of a clrmamepro text dat as the program writes them: one item per line, CR LF
// line ends, every line inside a block begins with one TAB, an empty line after every block.
namespace quorvin {

inline constexpr std::string_view kGameOpen = "game (";
inline constexpr std::string_view kBlockClose = ")";
inline constexpr std::string_view kRomLinePrefix = "\trom ( ";
inline constexpr std::string_view kNameLinePrefix = "\tname ";
inline constexpr std::string_view kDescriptionLinePrefix = "\tdescription ";
inline constexpr std::string_view kRomNamePrefix = "\trom ( name ";

// Upper-case hexadecimal of the unsigned value, no prefix, no leading zeros ("0" for 0).
std::string CrcText(uint32_t crc);
// The game's name, in double quotes when it holds a blank.
std::string NameToken(std::string_view game_name);
std::string GameNameLine(std::string_view token);
// The description: the token in double quotes unless it already begins with one.
std::string GameDescriptionLine(std::string_view token);
std::string RomLine(std::string_view token, uint64_t size, std::string_view crc_text);
// The six header lines: "clrmamepro (", name (trimmed, never quoted), Description and author
// (quoted as given), ")", and the empty line, each ended by CR LF.
std::string DatHeaderText(std::string_view system_name, std::string_view description,
                          std::string_view author);
Status WriteDatHeader(AtomicFile& out, std::string_view system_name, std::string_view description,
                      std::string_view author);

}  // namespace quorvin
