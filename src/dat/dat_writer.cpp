#include "dat/dat_writer.h"

#include <charconv>
#include <ctime>

#include "dat/dat_format.h"
#include "platform/text.h"

namespace quorvin {

namespace {

constexpr std::string_view kYearPrefix = "\tyear ";
constexpr std::string_view kManufacturerPrefix = "\tmanufacturer ";
constexpr std::string_view kDriverPrefix = "\tdriver ( ";
constexpr std::string_view kDriverSuffix = " )";

bool IsQuoted(std::string_view s) { return s.size() >= 2 && s.front() == '"' && s.back() == '"'; }

// A name token's name (the token without the quotes a dat wraps a name in), and whether the
// token is in the old CRC files' form rather than NameToken's. A token neither form gives
// back is taken as it stands (the round trip of ReadTextGame then decides).
std::string NameOfToken(std::string_view token, bool* legacy) {
  std::string name = TokenValue(token);
  *legacy = false;
  if (NameToken(name) == token) return name;
  if (LegacyNameToken(name) == token) {
    *legacy = true;
    return name;
  }
  return std::string(token);
}

std::string TokenOf(std::string_view name, bool legacy) {
  return legacy ? LegacyNameToken(name) : NameToken(name);
}

std::string DescriptionLine(const DatGame& game) {
  // As the scan writes it while the description is still the game's name; a description of
  // its own is always quoted, as the entry writer writes it.
  if (game.description == game.name)
    return GameDescriptionLine(TokenOf(game.name, game.legacy_token));
  return std::string(kDescriptionLinePrefix) + DatQuoted(game.description);
}

std::string RomLineOf(const DatRom& rom) {
  return RomLine(TokenOf(rom.name, rom.legacy_token), rom.size,
                 rom.size == 0 ? "0" : CrcText(rom.crc));
}

std::optional<DatRom> ReadRomLine(std::string_view line) {
  if (!line.starts_with(kRomNamePrefix) || !line.ends_with(" )")) return std::nullopt;
  std::string_view rest =
      line.substr(kRomNamePrefix.size(), line.size() - kRomNamePrefix.size() - 2);
  // Size and checksum hold no blanks; the name may hold the words.
  const size_t crc_at = rest.rfind(" crc ");
  if (crc_at == std::string_view::npos) return std::nullopt;
  const size_t size_at = rest.rfind(" size ", crc_at);
  if (size_at == std::string_view::npos) return std::nullopt;
  const std::string_view size_text = rest.substr(size_at + 6, crc_at - size_at - 6);
  const std::string_view crc_text = rest.substr(crc_at + 5);
  DatRom rom;
  rom.name = NameOfToken(rest.substr(0, size_at), &rom.legacy_token);
  auto s = std::from_chars(size_text.data(), size_text.data() + size_text.size(), rom.size);
  auto c = std::from_chars(crc_text.data(), crc_text.data() + crc_text.size(), rom.crc, 16);
  if (s.ec != std::errc() || s.ptr != size_text.data() + size_text.size() || c.ec != std::errc() ||
      c.ptr != crc_text.data() + crc_text.size()) {
    return std::nullopt;
  }
  return rom;
}

bool IsGameOpen(std::string_view line) { return TrimBlanks(line) == kGameOpen; }
bool IsBlockClose(std::string_view line) { return TrimBlanks(line) == kBlockClose; }

// Where the rom line of a block in the scan's shape stands, or 0 for a block of another shape.
size_t RomLineIndex(const std::vector<std::string>& l) {
  if (l.size() < 3 || !l[0].starts_with(kNameLinePrefix) ||
      !l[1].starts_with(kDescriptionLinePrefix)) {
    return 0;
  }
  for (size_t i = 2; i < l.size(); ++i) {
    if (l[i].starts_with(kRomLinePrefix)) return i;
  }
  return 0;
}

}  // namespace

DatFormat DatFormatOf(std::string_view path) {
  constexpr std::string_view kXml = ".xml";
  if (path.size() >= kXml.size() && EqualsIgnoreCase(path.substr(path.size() - kXml.size()), kXml))
    return DatFormat::kXml;
  return DatFormat::kText;
}

std::vector<std::string> TextGameLines(const DatGame& game) {
  std::vector<std::string> out;
  out.push_back(GameNameLine(TokenOf(game.name, game.legacy_token)));
  out.push_back(DescriptionLine(game));
  out.insert(out.end(), game.other_lines_after_description.begin(),
             game.other_lines_after_description.end());
  if (!game.year.empty()) out.push_back(std::string(kYearPrefix) + DatToken(game.year));
  if (!game.manufacturer.empty())
    out.push_back(std::string(kManufacturerPrefix) + DatQuoted(game.manufacturer));
  for (const DatRom& rom : game.roms) out.push_back(RomLineOf(rom));
  if (!game.driver.empty()) {
    out.push_back(std::string(kDriverPrefix) + DatDriverNotes(game.driver) +
                  std::string(kDriverSuffix));
  }
  out.insert(out.end(), game.other_lines_after_roms.begin(), game.other_lines_after_roms.end());
  return out;
}

std::optional<DatGame> ReadTextGame(const std::vector<std::string>& l) {
  if (l.size() < 3 || !l[0].starts_with(kNameLinePrefix) ||
      !l[1].starts_with(kDescriptionLinePrefix)) {
    return std::nullopt;
  }
  DatGame g;
  g.name = NameOfToken(std::string_view(l[0]).substr(kNameLinePrefix.size()), &g.legacy_token);
  const std::string_view desc = std::string_view(l[1]).substr(kDescriptionLinePrefix.size());
  if (l[1] == GameDescriptionLine(TokenOf(g.name, g.legacy_token))) {
    g.description = g.name;
  } else if (IsQuoted(desc)) {
    g.description = std::string(desc.substr(1, desc.size() - 2));
  } else {
    return std::nullopt;
  }
  size_t i = 2;
  auto known = [](std::string_view line) {
    return line.starts_with(kYearPrefix) || line.starts_with(kManufacturerPrefix) ||
           line.starts_with(kRomLinePrefix);
  };
  while (i < l.size() && !known(l[i])) g.other_lines_after_description.push_back(l[i++]);
  if (i < l.size() && l[i].starts_with(kYearPrefix))
    g.year = TokenValue(std::string_view(l[i++]).substr(kYearPrefix.size()));
  if (i < l.size() && l[i].starts_with(kManufacturerPrefix)) {
    std::string_view m = std::string_view(l[i++]).substr(kManufacturerPrefix.size());
    if (!IsQuoted(m)) return std::nullopt;
    g.manufacturer = std::string(m.substr(1, m.size() - 2));
  }
  while (i < l.size() && l[i].starts_with(kRomLinePrefix)) {
    std::optional<DatRom> rom = ReadRomLine(l[i++]);
    if (!rom) return std::nullopt;
    g.roms.push_back(std::move(*rom));
  }
  if (g.roms.empty()) return std::nullopt;
  if (i < l.size() && l[i].starts_with(kDriverPrefix) && l[i].ends_with(kDriverSuffix) &&
      l[i].size() >= kDriverPrefix.size() + kDriverSuffix.size()) {
    g.driver = TokenValue(std::string_view(l[i]).substr(
        kDriverPrefix.size(), l[i].size() - kDriverPrefix.size() - kDriverSuffix.size()));
    ++i;
  }
  while (i < l.size()) g.other_lines_after_roms.push_back(l[i++]);
  // Only a game that gives back exactly these lines is one: anything else is kept as lines.
  if (TextGameLines(g) != l) return std::nullopt;
  return g;
}

std::optional<DatHeader> ReadTextHeader(const std::vector<std::string>& l) {
  if (l.size() != 6 || l[0] != "clrmamepro (" || !l[1].starts_with("\tname ") ||
      !l[2].starts_with("\tDescription ") || !l[3].starts_with("\tauthor ")) {
    return std::nullopt;
  }
  std::string_view desc = std::string_view(l[2]).substr(13);
  std::string_view author = std::string_view(l[3]).substr(8);
  if (!IsQuoted(desc) || !IsQuoted(author)) return std::nullopt;
  DatHeader h;
  h.name = l[1].substr(6);
  h.description = std::string(desc.substr(1, desc.size() - 2));
  h.author = std::string(author.substr(1, author.size() - 2));
  std::string joined;
  for (const std::string& line : l) joined.append(line).append(kCrLf);
  if (DatHeaderText(h.name, h.description, h.author) != joined) return std::nullopt;
  return h;
}

Result<std::unique_ptr<TextDatWriter>> TextDatWriter::Create(const std::string& path) {
  auto file = AtomicFile::Create(path);
  if (!file.ok()) return file.status();
  return std::unique_ptr<TextDatWriter>(new TextDatWriter(std::move(file).value()));
}

Status TextDatWriter::Put(std::string_view bytes) {
  if (file_) return file_->Write(bytes);
  text_->append(bytes);
  return Status::Ok();
}

Status TextDatWriter::WriteHeader(const DatHeader& header) {
  return Put(DatHeaderText(header.name, header.description, header.author));
}

Status TextDatWriter::WriteGame(const DatGame& game) {
  std::string block(kGameOpen);
  block.append(kCrLf);
  for (const std::string& line : TextGameLines(game)) block.append(line).append(kCrLf);
  block.append(kBlockClose);
  block.append("\r\n\r\n");
  return Put(block);
}

Status TextDatWriter::WriteOtherLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text.append(line).append(kCrLf);
  return Put(text);
}

Status TextDatWriter::Commit() {
  if (file_) return file_->Commit();
  return Status::Ok();
}

Status TeeDatWriter::WriteHeader(const DatHeader& header) {
  Status s = first_.WriteHeader(header);
  return s.ok() ? second_.WriteHeader(header) : s;
}

Status TeeDatWriter::WriteGame(const DatGame& game) {
  Status s = first_.WriteGame(game);
  return s.ok() ? second_.WriteGame(game) : s;
}

Status TeeDatWriter::WriteOtherLines(const std::vector<std::string>& lines) {
  Status s = first_.WriteOtherLines(lines);
  return s.ok() ? second_.WriteOtherLines(lines) : s;
}

Status TeeDatWriter::Commit() {
  Status s = first_.Commit();
  return s.ok() ? second_.Commit() : s;
}

Result<std::unique_ptr<DatWriter>> CreateDatWriter(const std::string& path, Reporter& reporter) {
  if (DatFormatOf(path) == DatFormat::kXml) {
    auto xml = XmlDatWriter::Create(path, reporter);
    if (!xml.ok()) return xml.status();
    return std::unique_ptr<DatWriter>(std::move(xml).value());
  }
  auto text = TextDatWriter::Create(path);
  if (!text.ok()) return text.status();
  return std::unique_ptr<DatWriter>(std::move(text).value());
}

std::string DatVersionOfToday() {
  const std::time_t now = std::time(nullptr);
  // Called from the thread that runs the command while no other thread reads the clock.
  const std::tm* local = std::localtime(&now);  // NOLINT(concurrency-mt-unsafe)
  char buf[16] = "";
  if (local == nullptr || std::strftime(buf, sizeof buf, "%Y%m%d", local) == 0) return "00000000";
  return buf;
}

Status ReadTextDat(const std::string& path, DatWriter& out,
                   const std::function<Status(TextGameBlock&)>& edit) {
  std::vector<std::string> lines;
  {
    auto in = LineReader::Open(path);
    if (!in.ok()) return in.status();
    std::string line;
    while (in->Next(line)) lines.push_back(std::move(line));
    if (!in->status().ok()) return in->status();
  }
  const size_t n = lines.size();
  auto slice = [&lines](size_t from, size_t to) {
    return std::vector<std::string>(lines.begin() + static_cast<ptrdiff_t>(from),
                                    lines.begin() + static_cast<ptrdiff_t>(to));
  };
  size_t i = 0;
  while (i < n && !IsGameOpen(lines[i])) ++i;
  {
    std::vector<std::string> header = slice(0, i);
    Status s = Status::Ok();
    if (std::optional<DatHeader> h = ReadTextHeader(header)) {
      s = out.WriteHeader(*h);
    } else if (!header.empty()) {
      s = out.WriteOtherLines(header);
    }
    if (!s.ok()) return s;
  }
  // Block by block: lines[i] opens one; its inner lines run to its ")" or to the next
  // "game (" line or the end of the file; after a ")" the lines up to the next "game (" (the
  // empty separator line) belong to it.
  while (i < n) {
    const size_t open = i;
    size_t j = open + 1;
    while (j < n && !IsBlockClose(lines[j]) && !IsGameOpen(lines[j])) ++j;
    const bool closed = j < n && IsBlockClose(lines[j]);
    size_t next = j;
    if (closed) {
      next = j + 1;
      while (next < n && !IsGameOpen(lines[next])) ++next;
    }
    TextGameBlock block{slice(open + 1, j), 0};
    block.rom_line = RomLineIndex(block.lines);
    if (block.rom_line != 0 && edit) {
      Status s = edit(block);
      if (!s.ok()) return s;
    }
    std::optional<DatGame> game;
    const bool framed = lines[open] == kGameOpen && closed && lines[j] == kBlockClose &&
                        j + 1 < next && lines[j + 1].empty();
    if (framed && block.rom_line != 0) game = ReadTextGame(block.lines);
    Status s = Status::Ok();
    if (game) {
      s = out.WriteGame(*game);
      if (s.ok() && j + 2 < next) s = out.WriteOtherLines(slice(j + 2, next));
    } else {
      std::vector<std::string> kept{lines[open]};
      kept.insert(kept.end(), block.lines.begin(), block.lines.end());
      for (size_t k = j; k < next; ++k) kept.push_back(lines[k]);
      s = out.WriteOtherLines(kept);
    }
    if (!s.ok()) return s;
    i = next;
  }
  return Status::Ok();
}

}  // namespace quorvin
