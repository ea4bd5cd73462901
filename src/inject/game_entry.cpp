#include "inject/game_entry.h"

#include <charconv>

#include "dat/dat_format.h"
#include "platform/text.h"

namespace quorvin {

namespace {

std::string Unquoted(std::string_view token) {
  if (token.size() >= 2 && token.front() == '"' && token.back() == '"') {
    return std::string(token.substr(1, token.size() - 2));
  }
  return std::string(token);
}

}  // namespace

std::string GameEntry::ToDat() const {
  std::string out;
  auto add = [&out](const std::string& line, bool always) {
    if (!always && line.empty()) return;
    out.append(line);
    out.append(kCrLf);
  };
  add(lines.name_line, true);
  add(lines.description_line, true);
  add(year_line, false);
  add(manufacturer_line, false);
  add(lines.rom_line, true);
  for (const std::string& l : lines.more_rom_lines) add(l, true);
  add(driver_line, false);
  return out;
}

std::string CrcTextOf(std::string_view rom_line) {
  // The last " crc ": a name may hold the word too ("my crc game").
  size_t at = rom_line.rfind(" crc ");
  if (at == std::string_view::npos) return std::string();
  size_t start = at + 5;
  std::string_view trimmed_end = rom_line.substr(0, rom_line.find_last_not_of(' ') + 1);
  if (trimmed_end.size() < 2 || trimmed_end.size() - 2 < start) return std::string();
  return std::string(TrimBlanks(trimmed_end.substr(start, trimmed_end.size() - 2 - start)));
}

std::optional<uint64_t> SizeOf(std::string_view rom_line) {
  const size_t crc_at = rom_line.rfind(" crc ");
  if (crc_at == std::string_view::npos) return std::nullopt;
  const size_t at = rom_line.rfind(" size ", crc_at);
  if (at == std::string_view::npos) return std::nullopt;
  const std::string_view digits = TrimBlanks(rom_line.substr(at + 6, crc_at - (at + 6)));
  uint64_t size = 0;
  auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), size);
  if (digits.empty() || ec != std::errc() || end != digits.data() + digits.size()) {
    return std::nullopt;
  }
  return size;
}

namespace {

std::optional<RomKey> RomKeyOf(std::string_view rom_line) {
  const std::string crc_text = CrcTextOf(rom_line);
  auto size = SizeOf(rom_line);
  uint32_t crc = 0;
  auto [end, ec] = std::from_chars(crc_text.data(), crc_text.data() + crc_text.size(), crc, 16);
  if (!size || crc_text.empty() || crc_text.size() > 8 || ec != std::errc() ||
      end != crc_text.data() + crc_text.size()) {
    return std::nullopt;
  }
  return RomKey{crc, *size};
}

std::string NamesOf(const std::vector<std::string_view>& values) {
  std::string names;
  for (std::string_view value : values) {
    if (!names.empty()) names += ", ";
    names +=
        "\"" + ForMessage(RemoveControlChars(TrimBlanks(value.substr(0, value.find('|'))))) + "\"";
  }
  return names;
}

}  // namespace

GameEntry PrintGameEntry(const GameLines& game, const GoodNameLookup& db,
                         const EntryOptions& options) {
  GameEntry e;
  e.lines = game;
  if (options.keep_name) return e;
  std::string_view short_name;
  GoodNameLookup::Match match;
  if (options.archive) {
    std::vector<RomKey> roms;
    if (auto key = RomKeyOf(game.rom_line)) roms.push_back(*key);
    for (const std::string& l : game.more_rom_lines) {
      if (auto key = RomKeyOf(l)) roms.push_back(*key);
    }
    ArchiveMatch found = db.LookupArchive(roms);
    if (!found.conflicting.empty()) {
      e.problem = "The members of " + options.label + " lead to more than one good name (" +
                  NamesOf(found.conflicting) + "); it keeps its name";
      return e;
    }
    match.value = found.entry;
    short_name = found.short_name;
  } else {
    match = db.LookupRom(CrcTextOf(game.rom_line), SizeOf(game.rom_line));
  }
  if (!match.ambiguous.empty()) {
    // Which one the file is cannot be told: it keeps its name, and the user is told why.
    std::string names;
    for (std::string_view value : match.ambiguous) {
      if (!names.empty()) names += ", ";
      names += "\"" + ForMessage(RemoveControlChars(TrimBlanks(value.substr(0, value.find('|'))))) +
               "\"";
    }
    const std::string_view token =
        game.name_line.starts_with(kNameLinePrefix)
            ? std::string_view(game.name_line).substr(kNameLinePrefix.size())
            : std::string_view(game.name_line);
    e.problem = "The data of \"" + ForMessage(Unquoted(token)) +
                "\" after its header (or in another byte order) fits " +
                std::to_string(match.ambiguous.size()) + " entries of the database (" + names +
                "); the game keeps its name";
    return e;
  }
  // Control characters (a line break, NUL) would break the dat's lines or a file name.
  const std::string stored = RemoveControlChars(match.value);
  std::string_view entry = stored;
  if (entry.empty()) return e;

  // Up to four "|"-separated fields, each without blanks around it; more are ignored.
  std::string_view fields[4];
  for (size_t i = 0, start = 0; i < 4 && start <= entry.size(); ++i) {
    size_t bar = entry.find('|', start);
    fields[i] = TrimBlanks(entry.substr(start, bar == std::string_view::npos ? bar : bar - start));
    start = bar == std::string_view::npos ? entry.size() + 1 : bar + 1;
  }
  const std::string good(fields[0]);
  // Every text goes in dat-safe: a quote or a parenthesis of a database value must not end
  // the value or its block early. The values the old CRC files hold come out as they always
  // have.
  if (!fields[1].empty()) e.year_line = "\tyear " + DatToken(fields[1]);
  if (!fields[2].empty()) e.manufacturer_line = "\tmanufacturer " + DatQuoted(fields[2]);
  if (!fields[3].empty()) e.driver_line = "\tdriver ( " + DatDriverNotes(fields[3]) + " )";

  const std::string old_token = game.name_line.starts_with(kNameLinePrefix)
                                    ? game.name_line.substr(kNameLinePrefix.size())
                                    : ReplaceAll(game.name_line, kNameLinePrefix, "");
  if (old_token.empty()) return e;
  const std::string bare_old = Unquoted(old_token);
  // A double quote goes too: the file is renamed without it (the conversion file cannot hold
  // one), and inside the name token it would end the quoted name early.
  const std::string cleaned = RemoveChars(good, ":\\/?*\"");
  if (TrimBlanks(cleaned).empty()) {
    // No name to give: the game keeps its own, in the dat and on disk.
    e.problem = "The CRC database gives \"" + ForMessage(bare_old) + "\" the good name \"" +
                ForMessage(good) + "\", which is empty as a file name; the game keeps its name";
    return e;
  }
  const std::string good_token =
      db.KeepsBareParentheses() ? LegacyNameToken(cleaned) : DatToken(cleaned);

  e.lines.name_line = std::string(kNameLinePrefix) + good_token;
  // The description is the good name as the database writes it, always quoted.
  if (game.description_line == GameDescriptionLine(old_token) ||
      game.description_line == GameDescriptionLine(bare_old)) {
    e.lines.description_line = std::string(kDescriptionLinePrefix) + DatQuoted(good);
  } else if (game.description_line.starts_with(kDescriptionLinePrefix)) {
    e.lines.description_line =
        std::string(kDescriptionLinePrefix) +
        ReplaceAll(game.description_line.substr(kDescriptionLinePrefix.size()), bare_old,
                   DatText(good));
  }
  const std::string rom_head = std::string(kRomNamePrefix) + old_token + " ";
  if (!options.archive && game.rom_line.starts_with(rom_head)) {
    e.lines.rom_line =
        std::string(kRomNamePrefix) + good_token + " " + game.rom_line.substr(rom_head.size());
  }
  e.old_name = old_token;
  // The emulator finds an archive by the software's short name: it keeps that file name.
  e.good_name =
      !short_name.empty() && EqualsIgnoreCase(bare_old, short_name) ? std::string() : good_token;
  return e;
}

}  // namespace quorvin
