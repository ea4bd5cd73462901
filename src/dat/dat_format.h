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

// Dat-safe texts: every name and text value written into a dat goes through one of these,
// so that no value can end its line, its quotes or its block early, whatever a file name,
// a database or a software list holds.
// The value without its control characters (NUL included) and without double quotes.
std::string DatText(std::string_view value);
// DatText of the value, in double quotes when the value holds a blank, a parenthesis or a
// double quote (a reader would otherwise take it as several tokens, or as the end of its
// block); otherwise as it stands.
std::string DatToken(std::string_view value);
// DatText of the value, always in double quotes.
std::string DatQuoted(std::string_view value);
// True when a token DatToken wrote is in double quotes that are not part of the value.
bool IsQuotedToken(std::string_view token);
// The value a token stands for: without the quotes when IsQuotedToken, else as it stands.
std::string TokenValue(std::string_view token);
// Driver notes as their block holds them (words inside "driver ( ... )"): DatText of the
// notes, in double quotes when they hold a parenthesis.
std::string DatDriverNotes(std::string_view notes);
// A good name of the old CRC files as their dats always had it: DatText, in double quotes
// only when it holds a blank (a parenthesis alone does not quote it).
std::string LegacyNameToken(std::string_view name);

// Upper-case hexadecimal of the unsigned value, no prefix, no leading zeros ("0" for 0).
std::string CrcText(uint32_t crc);
// The game's name as a dat writes it: DatToken of the name.
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
