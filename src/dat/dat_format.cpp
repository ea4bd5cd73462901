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

std::string NameToken(std::string_view game_name) { return QuoteIfBlank(game_name); }

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
