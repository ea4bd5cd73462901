// The conversion table: any file loads (or is refused with its name); renames are recorded
// or refused; the table saved and loaded again answers every lookup as before the save.
#include <set>
#include <string>

#include "fuzz_util.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "rename/conversion_table.h"

using namespace quorvin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sandbox = fuzz::FreshSandbox("cnv");
  // The file, then up to four renames (old name, new name).
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 9);
  const std::string path = sandbox + "/nes.cnv";
  fuzz::WriteFile(path, parts[0]);
  auto table = ConversionTable::Load(path);
  if (!table.ok()) {
    FUZZ_CHECK(table.status().message().find(path) != std::string::npos, table.status().message());
    return 0;
  }
  // Every name that the lookups could be asked for: the file's keys and values and the
  // recorded names, as given and upper-cased.
  std::set<std::string> names;
  auto add = [&names](std::string_view n) {
    if (names.size() >= 96) return;
    names.insert(std::string(n));
    names.insert(ToUpperAscii(n));
  };
  ProfileLines lines(parts[0]);
  ProfileLine line;
  while (lines.Next(&line)) {
    if (auto k = ProfileKeyOf(line.text)) {
      add(*k);
      add(ProfileValueView(line.text));
    }
  }
  // The table as the file held it: a name this session found ambiguous is withheld in memory
  // (its file is renamed by none), while the file keeps its older entry for later runs.
  auto before = ConversionTable::Load(path);
  FUZZ_CHECK(before.ok(), before.status().message());
  for (size_t i = 1; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty() && parts[i + 1].empty()) continue;
    Status s = table->RecordConversion(parts[i], parts[i + 1]);
    (void)s;
    add(parts[i]);
    add(parts[i + 1]);
  }
  Status saved = table->Save();
  if (!saved.ok()) {
    FUZZ_CHECK(saved.message().find(path) != std::string::npos, saved.message());
    return 0;
  }
  auto again = ConversionTable::Load(path);
  FUZZ_CHECK(again.ok(), again.status().message());
  for (const std::string& n : names) {
    const std::string now = table->LookupConversion(n);
    const std::string read = again->LookupConversion(n);
    FUZZ_CHECK(read == now || (now.empty() && read == before->LookupConversion(n)),
               "conversion of \"" + n + "\" changed on the way through the file");
    FUZZ_CHECK(again->LookupReversion(n) == table->LookupReversion(n),
               "reversion of \"" + n + "\" changed on the way through the file");
  }
  return 0;
}
