// The CRC database load and the compare pass over it: any database file loads; every key the
// profile reader finds there is looked up to the same value; the pass then keeps every line
// of the dat in its block.
#include <set>
#include <string>

#include "compare_check.h"
#include "fuzz_util.h"
#include "inject/crc_database.h"
#include "platform/profile.h"

using namespace quorvin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string sandbox = fuzz::FreshSandbox("crcdb");
  static const bool made = (fuzz::MakeDirs(sandbox + "/crc"), true);
  (void)made;
  const std::vector<std::string> parts = fuzz::SplitParts(data, size, 2);
  const std::string path = sandbox + "/crc/nes.crc";
  fuzz::WriteFile(path, parts[0]);
  auto db = CrcDatabase::Load(path);
  FUZZ_CHECK(db.ok(), db.status().message());

  const ProfileFile file = ProfileFile::Parse(parts[0]);
  std::set<std::string> keys;
  ProfileLines lines(parts[0]);
  ProfileLine line;
  while (lines.Next(&line) && keys.size() < 64) {
    if (auto k = ProfileKeyOf(line.text)) keys.insert(std::string(*k));
  }
  for (const std::string& k : keys) {
    const auto value = file.Get("nes", k);
    if (value && !value->empty()) {
      FUZZ_CHECK(db->LookupCrcInfo(k) == *value, "key " + k + ": the database reads another value");
    }
  }
  fuzz::RunAndCheckComparePass(sandbox, parts[1], *db, false);
  return 0;
}
