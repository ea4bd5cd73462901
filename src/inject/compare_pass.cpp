#include "inject/compare_pass.h"

#include <unordered_set>
#include <vector>

#include "dat/dat_format.h"
#include "inject/game_entry.h"
#include "platform/text.h"

namespace quorvin {

Status ComparePass(const std::string& temp_dat_path, const std::string& output_dat_path,
                   const GoodNameLookup& db, ConversionTable* table, Reporter& reporter,
                   const CompareOptions& options) {
  auto out = CreateDatWriter(output_dat_path, reporter);
  if (!out.ok()) return out.status();
  Status s = ComparePass(temp_dat_path, **out, db, table, reporter, options);
  if (!s.ok()) return s;
  return (*out)->Commit();
}

// The walk through the temporary dat is ReadTextDat's: it goes one block at a time, from a
// "game (" line to its closing ")", so a block that is not in the expected shape is kept as it
// stands, and no line of one block ever ends up in another, whatever the temporary dat holds.
Status ComparePass(const std::string& temp_dat_path, DatWriter& out, const GoodNameLookup& db,
                   ConversionTable* table, Reporter& reporter, const CompareOptions& options) {
  reporter.SetStatus("Status:  Preparing For Mess Compare");
  const std::unordered_set<std::string> keep(options.keep_names.begin(), options.keep_names.end());
  size_t games = 0;
  auto enrich = [&](TextGameBlock& block) {
    std::vector<std::string>& l = block.lines;
    const size_t rom = block.rom_line;
    reporter.SetFileStatus("Status:  Comparing " + l[0], games++, 0);
    GameLines game{l[0], l[1], l[rom], {}};
    EntryOptions entry_options;
    if (options.archives) {
      // An archive's rom lines stand together, one per member: they name it together.
      for (size_t i = rom + 1; i < l.size() && l[i].starts_with(kRomLinePrefix); ++i) {
        game.more_rom_lines.push_back(l[i]);
      }
      const std::string token = l[0].substr(kNameLinePrefix.size());
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
    // description and the rom line kept after the description, the rom lines that follow
    // the game's first one kept beside it, and whatever followed them kept after the entry.
    std::vector<std::string> lines{entry.lines.name_line, entry.lines.description_line};
    lines.insert(lines.end(), l.begin() + 2, l.begin() + static_cast<ptrdiff_t>(rom));
    for (const std::string* x : {&entry.year_line, &entry.manufacturer_line}) {
      if (!x->empty()) lines.push_back(*x);
    }
    lines.push_back(entry.lines.rom_line);
    size_t after = rom + 1;
    while (after < l.size() && l[after].starts_with(kRomLinePrefix)) lines.push_back(l[after++]);
    if (!entry.driver_line.empty()) lines.push_back(entry.driver_line);
    lines.insert(lines.end(), l.begin() + static_cast<ptrdiff_t>(after), l.end());
    if (table != nullptr) {
      // A game without a rename is passed too (it keeps its name): the table must see
      // every ROM to find two of one name that are different games.
      const std::string old_name =
          entry.old_name.empty() ? l[0].substr(kNameLinePrefix.size()) : entry.old_name;
      Status r = table->RecordConversion(old_name, entry.good_name);
      if (!r.ok()) reporter.Warning(r.message());
    }
    l = std::move(lines);
    return Status::Ok();
  };
  return ReadTextDat(temp_dat_path, out, enrich);
}

}  // namespace quorvin
