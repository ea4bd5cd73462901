// The profile writer: a Set that succeeds is read back as written by both readers, and every
// other key keeps its value; a refused Set changes nothing; a written file serialises and
// parses back to the same bytes.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>

#include "fuzz_util.h"
#include "platform/profile.h"
#include "platform/text.h"

using namespace quorvin;

namespace {

using Name = std::pair<std::string, std::string>;  // upper-cased section and key

Name NameOf(std::string_view section, std::string_view key) {
  return {ToUpperAscii(fuzz::TrimNameBlanks(section)), ToUpperAscii(fuzz::TrimNameBlanks(key))};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The file, then up to four writes of section, key and value.
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 13);
  ProfileFile file = ProfileFile::Parse(parts[0], "/fuzz/f.ini");

  // What the file says before any write, for the names the writes and the file use.
  std::set<Name> names;
  ProfileLines lines(parts[0]);
  ProfileLine line;
  std::string current;
  while (lines.Next(&line) && names.size() < 24) {
    if (auto s = ProfileSectionOf(line.text)) {
      current = std::string(*s);
    } else if (auto k = ProfileKeyOf(line.text)) {
      names.insert(NameOf(current, *k));
    }
  }
  for (size_t i = 1; i + 2 < parts.size(); i += 3) names.insert(NameOf(parts[i], parts[i + 1]));
  std::map<Name, std::optional<std::string>> expected;
  for (const Name& n : names) expected[n] = file.Get(n.first, n.second);

  for (size_t i = 1; i + 2 < parts.size(); i += 3) {
    const std::string& section = parts[i];
    const std::string& key = parts[i + 1];
    const std::string& value = parts[i + 2];
    if (section.empty() && key.empty() && value.empty()) continue;
    const std::string before = file.Serialize();
    Status s = file.Set(section, key, value);
    if (!s.ok()) {
      FUZZ_CHECK(file.Serialize() == before, "a refused write changed the file");
      FUZZ_CHECK(s.message().find("/fuzz/f.ini") != std::string::npos, s.message());
      continue;
    }
    FUZZ_CHECK(value.find_first_of("\r\n") == std::string::npos, "a line break was written");
    expected[NameOf(section, key)] = value;
    FUZZ_CHECK(file.Get(section, key) == value, "[" + section + "] " + key + " read back wrong");
  }

  const std::string written = file.Serialize();
  const ProfileFile again = ProfileFile::Parse(written);
  FUZZ_CHECK(again.Serialize() == written, "the written file does not parse back to itself");
  std::map<std::string, ProfileSection> sections;  // each read once
  for (const auto& [name, value] : expected) {
    const std::optional<std::string> got = again.Get(name.first, name.second);
    FUZZ_CHECK(got == value, "[" + name.first + "] " + name.second + ": \"" +
                                 got.value_or("<none>") + "\" instead of \"" +
                                 value.value_or("<none>") + "\"");
    auto it = sections.find(name.first);
    if (it == sections.end())
      it = sections.emplace(name.first, ProfileSection::Parse(written, name.first)).first;
    const std::optional<std::string_view> section = it->second.Get(name.second);
    FUZZ_CHECK(section.has_value() == value.has_value() && (!value || *section == *value),
               "[" + name.first + "] " + name.second + ": the section reader disagrees");
  }
  return 0;
}
