#include "inject/crc_database.h"

#include "platform/path.h"
#include "platform/profile.h"
#include "platform/text.h"

namespace quorvin {

std::string SectionNameOf(std::string_view crc_database_path) {
  std::string_view name = FileNameOf(crc_database_path);
  return std::string(name.substr(0, name.size() >= 4 ? name.size() - 4 : 0));
}

Result<CrcDatabase> CrcDatabase::Load(const std::string& path) {
  CrcDatabase db;
  auto section = ProfileSection::Read(path, SectionNameOf(path));
  if (!section.ok()) {
    if (section.status().kind() == ErrorKind::kNotFound) return db;
    return section.status();
  }
  db.section_ = std::move(section).value();
  return db;
}

std::string_view CrcDatabase::LookupCrcInfo(std::string_view crc_text) const {
  if (crc_text.empty()) return std::string_view();
  auto found = section_.Get(crc_text);
  if (!found && crc_text.size() < 8)
    found = section_.Get(std::string(8 - crc_text.size(), '0') + std::string(crc_text));
  return found.value_or(std::string_view());
}

}  // namespace quorvin
