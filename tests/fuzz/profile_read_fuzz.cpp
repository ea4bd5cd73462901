// The profile reader: any bytes parse; serialising gives the bytes back; the in-memory file
// and the one-section reader (the CRC database's) agree on every section and key.
#include <optional>
#include <set>
#include <string>

#include "fuzz_util.h"
#include "platform/profile.h"
#include "platform/text.h"

using namespace quorvin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const ProfileFile file = ProfileFile::Parse(bytes);
  FUZZ_CHECK(file.Serialize() == bytes, "serialising changed the file");

  // The names the file holds, a bounded number of them.
  std::set<std::string> sections;
  std::set<std::string> keys;
  ProfileLines lines(bytes);
  ProfileLine line;
  size_t joined = 0;
  while (lines.Next(&line)) {
    joined += line.text.size() + line.eol.size();
    if (auto s = ProfileSectionOf(line.text)) {
      if (sections.size() < 8) sections.insert(std::string(*s));
    } else if (auto k = ProfileKeyOf(line.text)) {
      if (keys.size() < 32) keys.insert(std::string(*k));
    }
  }
  FUZZ_CHECK(joined == bytes.size(), "the lines do not cover the file");

  for (const std::string& s : sections) {
    const ProfileSection section = ProfileSection::Parse(bytes, s);
    for (const std::string& k : keys) {
      const std::optional<std::string> a = file.Get(s, k);
      const std::optional<std::string_view> b = section.Get(k);
      FUZZ_CHECK(a.has_value() == b.has_value(), "[" + s + "] " + k + ": found by one reader only");
      if (a)
        FUZZ_CHECK(*a == *b,
                   "[" + s + "] " + k + ": \"" + *a + "\" != \"" + std::string(*b) + "\"");
      // Letter case of the names does not matter.
      FUZZ_CHECK(file.Get(ToUpperAscii(s), ToUpperAscii(k)) == a, "[" + s + "] " + k + ": case");
    }
  }
  return 0;
}
