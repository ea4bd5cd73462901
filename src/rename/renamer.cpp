#include "rename/renamer.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "dat/scan.h"
#include "platform/fileops.h"
#include "platform/folder.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {

struct NameParts {
  std::string base;
  std::string extension;  // what the new name ends with
};

// How one pass cuts file names and which extension new names take.
struct PassRule {
  std::string pattern;
  std::string rom_extension;  // ROM pass: the run's extension (its length); artwork pass: empty
  bool artwork = false;
  std::string_view status_prefix;

  NameParts Split(const std::string& name) const {
    if (!artwork) {
      // The file keeps its extension as it stands: the pattern matches it without regard to
      // letter case, and a revert must give back the exact earlier name.
      if (name.size() <= rom_extension.size()) return {std::string(), rom_extension};
      return {GameNameOf(name, rom_extension), name.substr(name.size() - rom_extension.size())};
    }
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {name, ""};
    return {name.substr(0, dot), name.substr(dot)};
  }
};

// The entries of one folder by their upper-cased names, so that a name taken under any
// letter case is seen: folders get copied to file systems that ignore case.
class FolderNames {
 public:
  explicit FolderNames(const std::vector<std::string>& names) {
    for (const std::string& n : names) Add(n);
  }
  void Add(const std::string& name) {
    Entry& e = by_upper_[ToUpperAscii(name)];
    if (e.count++ == 0) e.spelling = name;
  }
  void Remove(const std::string& name) {
    auto it = by_upper_.find(ToUpperAscii(name));
    if (it != by_upper_.end() && --it->second.count == 0) by_upper_.erase(it);
  }
  // The spelling of an entry named `name` without regard to case, other than `self`; empty
  // when there is none.
  std::string Other(const std::string& name, const std::string& self) const {
    auto it = by_upper_.find(ToUpperAscii(name));
    if (it == by_upper_.end()) return std::string();
    const size_t others = it->second.count - (EqualsIgnoreCase(name, self) ? 1 : 0);
    if (others == 0) return std::string();
    return it->second.spelling == self ? name : it->second.spelling;
  }

 private:
  struct Entry {
    size_t count = 0;
    std::string spelling;
  };
  std::unordered_map<std::string, Entry> by_upper_;
};

RenameCounts RunPass(std::string_view folders, const PassRule& rule, const ConversionTable& table,
                     RenameMode mode, Reporter& reporter,
                     const std::unordered_set<std::string>* keep) {
  RenameCounts counts;
  for (const std::string& folder : FolderList(folders)) {
    auto names = ListFolder(folder, rule.pattern);
    if (!names.ok()) {
      reporter.Warning(names.status().message() + "; nothing was renamed there");
      continue;
    }
    auto entries = ListEntries(folder);
    if (!entries.ok()) {
      reporter.Warning(entries.status().message() + "; nothing was renamed there");
      continue;
    }
    FolderNames taken(*entries);
    // ROM base names that differ only in letter case map to one entry of the table: the
    // entry is ambiguous. (Artwork files of one base name with several extensions are not.)
    std::unordered_map<std::string, std::string> spellings;
    std::unordered_set<std::string> ambiguous;
    for (const std::string& name : *names) {
      if (rule.artwork) break;
      std::string base = rule.Split(name).base;
      std::string upper = ToUpperAscii(base);
      auto [it, fresh] = spellings.emplace(upper, base);
      if (!fresh && it->second != base) ambiguous.insert(upper);
    }
    size_t done = 0;
    for (const std::string& name : *names) {
      if (reporter.StopRequested()) {
        counts.stopped = true;
        return counts;
      }
      ++done;
      NameParts parts = rule.Split(name);
      if (parts.base.empty()) continue;
      if (keep != nullptr && keep->contains(ToUpperAscii(parts.base))) continue;
      const std::string next = mode == RenameMode::kRename ? table.LookupConversion(parts.base)
                                                           : table.LookupReversion(parts.base);
      if (next.empty() || next == parts.base) continue;
      const std::string path = JoinPath(folder, name);
      auto skip = [&](const std::string& why) {
        reporter.Warning("Left " + path + " alone: " + why);
        ++counts.skipped;
      };
      if (ambiguous.contains(ToUpperAscii(parts.base))) {
        skip("another file of the folder has the same name but for letter case, so the entry " +
             std::string("for it in ") + table.path() + " is ambiguous");
        continue;
      }
      // A rename is made only when the table's way back from the new name leads to this
      // name: an entry whose way back was since given to another file (or never written)
      // would rename a file that a revert could not bring back.
      if (mode == RenameMode::kRename &&
          !EqualsIgnoreCase(table.LookupReversion(next), parts.base)) {
        skip("its entry in " + table.path() + " (\"" + ForMessage(next) +
             "\") has no way back to its name there");
        continue;
      }
      const std::string new_name = next + parts.extension;
      if (!IsPlainFileName(next) || !IsPlainFileName(new_name) || next.front() == '.' ||
          HasControlChar(next)) {
        skip("its new name \"" + ForMessage(next) + "\" from " + table.path() +
             " cannot be a file name in that folder");
        continue;
      }
      if (std::string other = taken.Other(new_name, name); !other.empty()) {
        skip("Cannot rename " + path + ": " + JoinPath(folder, other) + " already exists");
        continue;
      }
      reporter.SetFileStatus(std::string(rule.status_prefix) + name + " to " + next, done - 1,
                             names->size());
      Status s = RenameNoReplace(path, JoinPath(folder, new_name));
      if (s.ok()) {
        ++counts.renamed;
        taken.Remove(name);
        taken.Add(new_name);
      } else {
        skip(s.message());
      }
    }
  }
  return counts;
}

}  // namespace

RenameCounts RenameRoms(std::string_view folders, std::string_view extension,
                        const ConversionTable& table, RenameMode mode, Reporter& reporter,
                        const std::unordered_set<std::string>* keep) {
  PassRule rule{"*" + std::string(extension), std::string(extension), false,
                mode == RenameMode::kRename ? "Status:  Renaming " : "Status:  Reverting "};
  return RunPass(folders, rule, table, mode, reporter, keep);
}

RenameCounts RenameArtwork(std::string_view folders, const ConversionTable& table, RenameMode mode,
                           Reporter& reporter, const std::unordered_set<std::string>* keep) {
  PassRule rule{"*.*", "", true, "Status:  Renaming "};
  return RunPass(folders, rule, table, mode, reporter, keep);
}

std::unordered_set<std::string> CarriedNames(std::string_view rom_folders,
                                             std::string_view extension,
                                             std::string_view artwork_folders) {
  std::unordered_set<std::string> out;
  const PassRule roms{"*" + std::string(extension), std::string(extension), false, ""};
  const PassRule art{"*.*", "", true, ""};
  for (const auto& [folders, rule] : {std::pair{rom_folders, &roms}, {artwork_folders, &art}}) {
    for (const std::string& folder : FolderList(folders)) {
      auto names = ListFolder(folder, rule->pattern);
      if (!names.ok()) continue;
      for (const std::string& name : *names) out.insert(ToUpperAscii(rule->Split(name).base));
    }
  }
  return out;
}

}  // namespace quorvin
