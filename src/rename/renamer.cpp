#include "rename/renamer.h"

#include <optional>

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
  std::string rom_extension;  // ROM pass: the run's extension; artwork pass: empty
  bool artwork = false;
  std::string_view status_prefix;

  NameParts Split(const std::string& name) const {
    if (!artwork) return {GameNameOf(name, rom_extension), rom_extension};
    size_t dot = name.rfind('.');
    if (dot == std::string::npos) return {name, ""};
    return {name.substr(0, dot), name.substr(dot)};
  }
};

RenameCounts RunPass(std::string_view folders, const PassRule& rule, const ConversionTable& table,
                     RenameMode mode, Reporter& reporter) {
  RenameCounts counts;
  for (const std::string& folder : FolderList(folders)) {
    auto names = ListFolder(folder, rule.pattern);
    if (!names.ok()) {
      reporter.Warning(names.status().message() + "; nothing was renamed there");
      continue;
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
      const std::string upper = ToUpperAscii(parts.base);
      const std::string next = mode == RenameMode::kRename ? table.LookupConversion(upper)
                                                           : table.LookupReversion(upper);
      if (next.empty() || next == parts.base) continue;
      const std::string new_name = next + parts.extension;
      if (!IsPlainFileName(next) || !IsPlainFileName(new_name)) {
        reporter.Warning("Left " + JoinPath(folder, name) + " alone: its new name \"" + next +
                         "\" from " + table.path() + " cannot be a file name in that folder");
        ++counts.skipped;
        continue;
      }
      reporter.SetFileStatus(std::string(rule.status_prefix) + name + " to " + next, done - 1,
                             names->size());
      Status s = RenameNoReplace(JoinPath(folder, name), JoinPath(folder, new_name));
      if (s.ok()) {
        ++counts.renamed;
      } else {
        reporter.Warning("Left " + JoinPath(folder, name) + " alone: " + s.message());
        ++counts.skipped;
      }
    }
  }
  return counts;
}

}  // namespace

RenameCounts RenameRoms(std::string_view folders, std::string_view extension,
                        const ConversionTable& table, RenameMode mode, Reporter& reporter) {
  PassRule rule{"*" + std::string(extension), std::string(extension), false,
                mode == RenameMode::kRename ? "Status:  Renaming " : "Status:  Reverting "};
  return RunPass(folders, rule, table, mode, reporter);
}

RenameCounts RenameArtwork(std::string_view folders, const ConversionTable& table, RenameMode mode,
                           Reporter& reporter) {
  PassRule rule{"*.*", "", true, "Status:  Renaming "};
  return RunPass(folders, rule, table, mode, reporter);
}

}  // namespace quorvin
