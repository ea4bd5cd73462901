#include "dat/dat_format.h"

#include "platform/text.h"

namespace quorvin {

std::string CrcText(uint32_t crc) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kDigits[crc & 0xF];
    crc >>= 4;
  } while (crc != 0);
  std::string out;
  while (n > 0) out.push_back(buf[--n]);
  return out;
}

std::string DatText(std::string_view value) {
  std::string out;
  out.reserve(value.size());
  for (char c : value) {
    if (c != '"' && !IsControlChar(c)) out.push_back(c);
  }
  return out;
}

std::string DatToken(std::string_view value) {
  if (value.find_first_of(" ()\"") == std::string_view::npos) return DatText(value);
  return DatQuoted(value);
}

std::string DatQuoted(std::string_view value) { return "\"" + DatText(value) + "\""; }

bool IsQuotedToken(std::string_view token) {
  if (token.size() < 2 || token.front() != '"' || token.back() != '"') return false;
  return token.substr(1, token.size() - 2).find('"') == std::string_view::npos;
}

std::string TokenValue(std::string_view token) {
  return std::string(IsQuotedToken(token) ? token.substr(1, token.size() - 2) : token);
}

std::string DatDriverNotes(std::string_view notes) {
  return notes.find_first_of("()") == std::string_view::npos ? DatText(notes) : DatQuoted(notes);
}

std::string LegacyNameToken(std::string_view name) { return QuoteIfBlank(DatText(name)); }

std::string NameToken(std::string_view game_name) { return DatToken(game_name); }

std::string GameNameLine(std::string_view token) {
  return std::string(kNameLinePrefix) + std::string(token);
}

std::string GameDescriptionLine(std::string_view token) {
  if (!token.empty() && token.front() == '"')
    return std::string(kDescriptionLinePrefix) + std::string(token);
  return std::string(kDescriptionLinePrefix) + "\"" + std::string(token) + "\"";
}

std::string RomLine(std::string_view token, uint64_t size, std::string_view crc_text) {
  std::string out(kRomNamePrefix);
  out.append(token);
  out.append(" size ");
  out.append(std::to_string(size));
  out.append(" crc ");
  out.append(crc_text);
  out.append(" )");
  return out;
}

std::string DatHeaderText(std::string_view system_name, std::string_view description,
                          std::string_view author) {
  std::string header = "clrmamepro (\r\n\tname ";
  header.append(TrimBlanks(system_name));
  header.append("\r\n\tDescription \"");
  header.append(description);
  header.append("\"\r\n\tauthor \"");
  header.append(author);
  header.append("\"\r\n)\r\n\r\n");
  return header;
}

Status WriteDatHeader(AtomicFile& out, std::string_view system_name, std::string_view description,
                      std::string_view author) {
  return out.Write(DatHeaderText(system_name, description, author));
}

}  // namespace quorvin
