#include "inject/compare_pass.h"

#include <unordered_set>
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

// The inner lines of one game block: what follows its "game (" line, up to its closing ")"
// or to the next "game (" line or the end of the file, whichever comes first.
struct Block {
  std::vector<std::string> lines;
  enum class End { kClose, kNextGame, kEndOfFile } end = End::kEndOfFile;
  std::string end_line;  // the ")" or "game (" line that ended it
};

// Where the game's rom line stands in the block, or 0 when the block is not in the shape the
// scan writes: a name line, a description line, then a rom line (other lines may come
// between the description and the rom line, and after it).
size_t RomLineIndex(const Block& block) {
  const std::vector<std::string>& l = block.lines;
  if (l.size() < 3 || !l[0].starts_with(kNameLinePrefix) ||
      !l[1].starts_with(kDescriptionLinePrefix)) {
    return 0;
  }
  for (size_t i = 2; i < l.size(); ++i) {
    if (IsRomLine(l[i])) return i;
  }
  return 0;
}

}  // namespace

// The pass works one block at a time, from a "game (" line to its closing ")": a block that
// is not in the expected shape is copied as it stands, and no line of one block ever ends up
// in another, whatever the temporary dat holds.
Status ComparePass(const std::string& temp_dat_path, const std::string& output_dat_path,
                   const GoodNameLookup& db, ConversionTable* table, Reporter& reporter,
                   const CompareOptions& options) {
  std::unordered_set<std::string> keep(options.keep_names.begin(), options.keep_names.end());
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
  auto read_block = [&in]() {
    Block b;
    std::string line;
    while (in->Next(line)) {
      if (IsBlockClose(line) || IsGameOpen(line)) {
        b.end = IsGameOpen(line) ? Block::End::kNextGame : Block::End::kClose;
        b.end_line = std::move(line);
        return b;
      }
      b.lines.push_back(std::move(line));
    }
    return b;
  };

  bool at_game = copy_to_next_game();
  size_t games = 0;
  while (s.ok() && at_game) {
    Block block = read_block();
    if (!block.lines.empty()) {
      reporter.SetFileStatus("Status:  Comparing " + block.lines[0], games++, 0);
    }
    const size_t rom = RomLineIndex(block);
    if (rom == 0) {
      for (const std::string& l : block.lines) emit(l);
    } else {
      GameLines game{block.lines[0], block.lines[1], block.lines[rom], {}};
      // An archive's rom lines stand together, one per member.
      size_t rom_end = rom + 1;
      if (options.archives) {
        while (rom_end < block.lines.size() && IsRomLine(block.lines[rom_end])) {
          game.more_rom_lines.push_back(block.lines[rom_end++]);
        }
      }
      EntryOptions entry_options;
      if (options.archives) {
        const std::string token = block.lines[0].substr(kNameLinePrefix.size());
        const std::string bare = token.size() >= 2 && token.front() == '"' && token.back() == '"'
                                     ? token.substr(1, token.size() - 2)
                                     : token;
        entry_options.archive = true;
        entry_options.keep_name = keep.contains(bare);
        entry_options.label = "the archive " + bare + options.extension;
      }
      GameEntry entry = PrintGameEntry(game, db, entry_options);
      if (!entry.problem.empty()) reporter.Warning(entry.problem);
      // The entry's lines in the order a dat writes them, with whatever stood between the
      // description and the rom line kept after the description, and whatever followed the
      // rom line kept after the entry.
      emit(entry.lines.name_line);
      emit(entry.lines.description_line);
      for (size_t i = 2; i < rom; ++i) emit(block.lines[i]);
      for (const std::string* l : {&entry.year_line, &entry.manufacturer_line}) {
        if (!l->empty()) emit(*l);
      }
      emit(entry.lines.rom_line);
      for (const std::string& l : entry.lines.more_rom_lines) emit(l);
      if (!entry.driver_line.empty()) emit(entry.driver_line);
      for (size_t i = rom_end; i < block.lines.size(); ++i) emit(block.lines[i]);
      if (s.ok() && table != nullptr) {
        // A game without a rename is passed too (it keeps its name): the table must see
        // every ROM to find two of one name that are different games.
        const std::string old_name =
            entry.old_name.empty() ? block.lines[0].substr(kNameLinePrefix.size()) : entry.old_name;
        Status r = table->RecordConversion(old_name, entry.good_name);
        if (!r.ok()) reporter.Warning(r.message());
      }
    }
    switch (block.end) {
      case Block::End::kEndOfFile:
        at_game = false;
        break;
      case Block::End::kNextGame:  // a block without its close: the next one starts here
        emit(block.end_line);
        break;
      case Block::End::kClose:
        // Framing copy: the close, the separator and the next "game (" line.
        emit(block.end_line);
        at_game = copy_to_next_game();
        break;
    }
  }
  if (!s.ok()) return s;
  if (!in->status().ok()) return in->status();
  return out->Commit();
}

}  // namespace quorvin
