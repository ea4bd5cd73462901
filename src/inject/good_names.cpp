#include "inject/good_names.h"

#include "dat/dat_format.h"
#include "inject/crc_database.h"
#include "inject/software_list.h"
#include "platform/fileops.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {

std::string CrcFileOf(const std::string& system) { return JoinPath("crc", system + ".crc"); }
std::string ListFileOf(const std::string& system) { return JoinPath("hash", system + ".xml"); }

}  // namespace

std::string GoodNamesPath(const std::string& mess_folder, const std::string& system) {
  const std::string crc = JoinPath(mess_folder, CrcFileOf(system));
  if (IsFile(crc)) return crc;
  const std::string list = JoinPath(mess_folder, ListFileOf(system));
  if (IsFile(list)) return list;
  return crc;
}

Result<GoodNames> OpenGoodNames(const std::string& mess_folder, const std::string& system,
                                const HeaderlessCrcs* headerless, Reporter& reporter) {
  GoodNames names;
  const std::string crc = JoinPath(mess_folder, CrcFileOf(system));
  if (IsFile(crc)) {
    auto db = CrcDatabase::Load(crc);
    if (!db.ok()) return db.status();
    reporter.SetStatus("Status:  Using CRC database " + CrcFileOf(system));
    names.lookup = std::make_unique<CrcDatabase>(std::move(db).value());
    names.path = crc;
    return names;
  }
  const std::string list_path = JoinPath(mess_folder, ListFileOf(system));
  if (IsFile(list_path)) {
    names.path = list_path;
    auto list = SoftwareList::Load(list_path);
    if (list.ok()) {
      reporter.SetStatus("Status:  Using software list " + ListFileOf(system));
      list->UseHeaderlessCrcs(headerless);
      names.lookup = std::make_unique<SoftwareList>(std::move(list).value());
      return names;
    }
    reporter.Warning(list.status().message() + "; no good names were added");
    names.lookup = std::make_unique<EmptyGoodNames>();
    return names;
  }
  reporter.SetStatus("Status:  No CRC database or software list for " + system);
  names.lookup = std::make_unique<EmptyGoodNames>();
  return names;
}

}  // namespace quorvin

namespace quorvin {

namespace {

std::string_view GoodNameField(std::string_view entry) {
  return TrimBlanks(entry.substr(0, entry.find('|')));
}

}  // namespace

ArchiveMatch GoodNameLookup::LookupArchive(const std::vector<RomKey>& roms) const {
  ArchiveMatch match;
  for (const RomKey& rom : roms) {
    std::string_view entry = LookupCrcInfo(CrcText(rom.crc));
    if (entry.empty()) continue;
    bool seen = false;
    for (std::string_view e : match.conflicting)
      seen = seen || GoodNameField(e) == GoodNameField(entry);
    if (!seen) match.conflicting.push_back(entry);
  }
  if (match.conflicting.size() == 1) {
    match.entry = match.conflicting[0];
    match.conflicting.clear();
  }
  return match;
}

}  // namespace quorvin
