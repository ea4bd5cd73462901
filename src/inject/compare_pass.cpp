#include "inject/compare_pass.h"

#include <vector>

#include "dat/dat_format.h"
#include "inject/game_entry.h"
#include "platform/fileops.h"
#include "platform/text.h"

namespace quorvin {

namespace {

bool IsGameOpen(std::string_view line) { return TrimBlanks(line) == kGameOpen; }
bool IsBlockClose(std::string_view line) { return TrimBlanks(line) == kBlockClose; }
bool IsRomLine(std::string_view line) { return line.starts_with(kRomLinePrefix); }

}  // namespace

Status ComparePass(const std::string& temp_dat_path, const std::string& output_dat_path,
                   const CrcDatabase& db, ConversionTable* table, Reporter& reporter) {
  auto in = LineReader::Open(temp_dat_path);
  if (!in.ok()) return in.status();
  auto out = AtomicFile::Create(output_dat_path);
  if (!out.ok()) return out.status();
  reporter.SetStatus("Status:  Preparing For Mess Compare");

  Status s;
  auto emit = [&s, &out](std::string_view text) {
    if (s.ok()) s = out->WriteLine(text);
  };
  // Copies lines up to and including the next "game (" line; false at the end of the file.
  auto copy_to_next_game = [&]() {
    std::string line;
    while (s.ok() && in->Next(line)) {
      emit(line);
      if (IsGameOpen(line)) return true;
    }
    return false;
  };
  bool at_game = copy_to_next_game();
  size_t games = 0;
  while (s.ok() && at_game) {
    GameLines game;
    if (!in->Next(game.name_line)) break;
    reporter.SetFileStatus("Status:  Comparing " + game.name_line, games++, 0);
    if (!in->Next(game.description_line)) {
      emit(game.name_line);
      break;
    }
    // The rom search starts at the description line and stops at the block's close, so a
    // game without a rom line never swallows the next block.
    std::vector<std::string> between;
    std::string current = game.description_line;
    bool found = IsRomLine(current), ended = false;
    while (!found && !IsBlockClose(current)) {
      if (!in->Next(current)) {
        ended = true;
        break;
      }
      found = IsRomLine(current);
      if (!found && !IsBlockClose(current)) between.push_back(current);
    }
    if (!found) {
      // Written as it stands: name, description, whatever followed, and its close.
      emit(game.name_line);
      emit(game.description_line);
      for (const std::string& l : between) emit(l);
      if (ended) break;
      if (current != game.description_line) emit(current);
    } else {
      game.rom_line = current;
      GameEntry entry = PrintGameEntry(game, db);
      if (s.ok()) s = out->Write(entry.ToDat());
      if (s.ok() && table != nullptr) {
        Status r = table->RecordConversion(entry.old_name, entry.good_name);
        if (!r.ok()) reporter.Warning(r.message());
      }
    }
    // Framing copy: the block's close, the separator and the next "game (" line.
    at_game = copy_to_next_game();
  }
  if (!s.ok()) return s;
  if (!in->status().ok()) return in->status();
  return out->Commit();
}

}  // namespace quorvin
