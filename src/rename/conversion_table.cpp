#include "rename/conversion_table.h"

#include "platform/path.h"
#include "platform/text.h"

namespace quorvin {

namespace {
constexpr std::string_view kConversion = "Conversion";
constexpr std::string_view kReversion = "Reversion";

std::string Stored(std::string_view name) { return ToUpperAscii(RemoveChars(name, "\"")); }

bool StorableKey(std::string_view key) {
  std::string_view t = TrimBlanks(key);
  // The profile reader drops one pair of quotes around a whole value, so a name wrapped in
  // single quotes would not read back as written.
  bool wrapped = t.size() >= 2 && t.front() == '\'' && t.back() == '\'';
  return !t.empty() && !wrapped && t[0] != '[' &&
         key.find_first_of("=\r\n") == std::string_view::npos;
}
}  // namespace

std::string ConversionFilePath(const std::string& conversions_folder, std::string_view system) {
  return JoinPath(conversions_folder, std::string(system) + ".cnv");
}

Result<ConversionTable> ConversionTable::Load(const std::string& path) {
  auto file = ProfileFile::Load(path);
  if (!file.ok()) return file.status();
  ConversionTable t;
  t.path_ = path;
  t.file_ = std::move(file).value();
  return t;
}

Status ConversionTable::RecordConversion(std::string_view old_name, std::string_view new_name) {
  std::string k = Stored(old_name);
  std::string v = Stored(new_name);
  if (TrimBlanks(k).empty() || TrimBlanks(v).empty()) return Status::Ok();
  // A good name goes to the first game that asks for it in this session; a file that already
  // carries it (an equal pair) counts as asking.
  auto [taken, fresh] = recorded_.emplace(v, k);
  if (!fresh && taken->second != k) {
    return Status::Refused("Two games have the good name " + v + ": " + taken->second + " and " +
                           k + "; only " + taken->second + " will be renamed");
  }
  if (k == v) return Status::Ok();
  if (!StorableKey(k) || !StorableKey(v)) {
    return Status::InvalidInput("The rename of \"" + k + "\" to \"" + v +
                                "\" cannot be stored in " + path_ +
                                " (a name holds \"=\", a line break or begins with \"[\")");
  }
  Status s = file_.Set(kConversion, k, v);
  if (s.ok()) s = file_.Set(kReversion, v, k);
  if (!s.ok()) return s;
  dirty_ = true;
  return Status::Ok();
}

std::string ConversionTable::LookupConversion(std::string_view name) const {
  return file_.Get(kConversion, name).value_or(std::string());
}

std::string ConversionTable::LookupReversion(std::string_view name) const {
  return file_.Get(kReversion, name).value_or(std::string());
}

Status ConversionTable::Save() {
  if (!dirty_) return Status::Ok();
  Status s = file_.Save(path_);
  if (s.ok()) dirty_ = false;
  return s;
}

}  // namespace quorvin
