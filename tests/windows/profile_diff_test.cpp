// Our profile reader and writer side by side with the platform's own GetPrivateProfileStringA
// and WritePrivateProfileStringA, on real databases, the repository's sample files and
// generated files with every oddity we know of. Run on Windows (or under Wine, whose
// implementation follows Windows). Each difference found is either a failure or one of the
// known differences listed in kKnown (and in the README), counted and printed.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/fileops.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "platform/wide_win32.h"
#include "test_util.h"

namespace quorvin {
namespace {

namespace fs = std::filesystem;

// Every caller of the platform's reader passes a buffer of this size.
constexpr DWORD kBuffer = 5000;
constexpr char kMissing[] = "\x01quorvin-missing\x01";

// The differences we keep on purpose; each is explained in the README.
enum class Known {
  kLongValue,    // we read a value whole; the platform cuts it at 4999 characters
  kLoneCr,       // a CR not before an LF: data to us, a line end to the platform
  kControlTrim,  // the platform also trims VT, FF, CR and SUB (0x1A) around a value
  kNul,          // a NUL byte: data to us, the end of the value to the platform
  kOpenBracket,  // "[name" without "]": a section to us, an ordinary line to the platform
  kEmptyKey,     // "=value": no entry to us, found by the platform under an empty key name
};

std::string NameOf(Known k) {
  switch (k) {
    case Known::kLongValue:
      return "values longer than 4999 characters are read whole";
    case Known::kLoneCr:
      return "a lone CR is kept in the line, not taken for a line end";
    case Known::kControlTrim:
      return "only blanks and tabs are trimmed around a value, not VT, FF, CR or SUB";
    case Known::kNul:
      return "a NUL byte is kept in the value";
    case Known::kOpenBracket:
      return "a line beginning with \"[\" without \"]\" starts a section";
    case Known::kEmptyKey:
      return "a line with nothing before \"=\" holds no key";
  }
  return "?";
}

bool IsControlSpace(char c) { return c == '\v' || c == '\f' || c == '\r' || c == '\x1a'; }

std::string TrimControlSpace(std::string_view v) {
  while (!v.empty() && (IsControlSpace(v.front()) || v.front() == ' ' || v.front() == '\t')) {
    v.remove_prefix(1);
  }
  while (!v.empty() && (IsControlSpace(v.back()) || v.back() == ' ' || v.back() == '\t')) {
    v.remove_suffix(1);
  }
  return std::string(v);
}

// The names of the sections that lines "[name" without "]" start, upper-cased.
std::set<std::string> OpenBracketSections(const std::string& bytes) {
  std::set<std::string> out;
  ProfileLines lines(bytes);
  ProfileLine line;
  while (lines.Next(&line)) {
    std::string_view t = TrimBlanks(line.text);
    if (!t.empty() && t[0] == '[' && t.find(']') == std::string_view::npos) {
      out.insert(ToUpperAscii(std::string(TrimBlanks(t.substr(1)))));
    }
  }
  return out;
}

// Which known difference explains the two results, if one does.
std::optional<Known> Explain(const std::string& section, const std::string& key,
                             const std::optional<std::string>& theirs,
                             const std::optional<std::string>& mine,
                             const std::set<std::string>& open_sections) {
  if (theirs && mine) {
    if (mine->size() >= kBuffer && *theirs == mine->substr(0, kBuffer - 1)) return Known::kLongValue;
    if (mine->find('\0') != std::string::npos && *theirs == mine->substr(0, mine->find('\0'))) {
      return Known::kNul;
    }
    if (mine->find('\r') != std::string::npos &&
        *theirs == TrimControlSpace(mine->substr(0, mine->find('\r')))) {
      return Known::kLoneCr;
    }
    if (*theirs == TrimControlSpace(*mine)) return Known::kControlTrim;
  }
  if (theirs && !mine && TrimBlanks(key).empty()) return Known::kEmptyKey;
  if (!open_sections.empty()) {
    // The lines after an open bracket belong to that section for us, to the one before it
    // for the platform.
    if (mine && !theirs && open_sections.count(ToUpperAscii(std::string(TrimBlanks(section))))) {
      return Known::kOpenBracket;
    }
    if (theirs && !mine) return Known::kOpenBracket;
  }
  return std::nullopt;
}

std::optional<std::string> PlatformGet(const std::string& path, const std::string& section,
                                       const std::string& key) {
  std::vector<char> buf(kBuffer);
  DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), kMissing, buf.data(), kBuffer,
                                     path.c_str());
  std::string v(buf.data(), n);
  if (v == kMissing) return std::nullopt;
  return v;
}

// A NUL-separated list the platform hands back (section names, or the keys of a section).
std::vector<std::string> SplitNulList(const std::vector<char>& buf, DWORD n) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t i = 0; i < n; ++i) {
    if (buf[i] == '\0') {
      if (i > start) out.emplace_back(buf.data() + start, i - start);
      start = i + 1;
    }
  }
  if (start < n) out.emplace_back(buf.data() + start, n - start);
  return out;
}

std::vector<std::string> PlatformSections(const std::string& path) {
  for (DWORD size = 1 << 16;; size *= 4) {
    std::vector<char> buf(size);
    DWORD n = GetPrivateProfileSectionNamesA(buf.data(), size, path.c_str());
    if (n < size - 2) return SplitNulList(buf, n);
  }
}

std::vector<std::string> PlatformKeys(const std::string& path, const std::string& section) {
  for (DWORD size = 1 << 16;; size *= 4) {
    std::vector<char> buf(size);
    DWORD n = GetPrivateProfileStringA(section.c_str(), nullptr, "", buf.data(), size,
                                       path.c_str());
    if (n < size - 2) return SplitNulList(buf, n);
  }
}

// Section and key names worth asking for: the platform's own lists, and every name a line of
// the file could be read as by either side, in a few spellings.
void Candidates(const std::string& path, const std::string& bytes, std::set<std::string>* sections,
                std::set<std::string>* keys) {
  for (const std::string& s : PlatformSections(path)) {
    sections->insert(s);
    for (const std::string& k : PlatformKeys(path, s)) keys->insert(k);
  }
  ProfileLines lines(bytes);
  ProfileLine line;
  while (lines.Next(&line)) {
    std::string_view t = line.text;
    if (auto name = ProfileSectionOf(t)) sections->insert(std::string(*name));
    if (auto key = ProfileKeyOf(t)) keys->insert(std::string(*key));
    size_t eq = t.find('=');
    if (eq != std::string_view::npos && eq > 0) keys->insert(std::string(t.substr(0, eq)));
  }
  // Case and blanks: names are found whatever their case and the blanks around them.
  std::set<std::string> more;
  for (const std::string& k : *keys) {
    more.insert(ToUpperAscii(k));
    more.insert(" " + k + " ");
  }
  keys->insert(more.begin(), more.end());
  std::set<std::string> more_sections;
  for (const std::string& s : *sections) {
    more_sections.insert(ToUpperAscii(s));
    more_sections.insert(" " + s + " ");
  }
  sections->insert(more_sections.begin(), more_sections.end());
  sections->insert("no such section");
  keys->insert("no such key");
}

struct Report {
  std::map<Known, size_t> known;
  std::vector<std::string> unexplained;
  size_t compared = 0;

  void Unexplained(const std::string& what) {
    if (unexplained.size() < 2000) unexplained.push_back(what);
  }
  void Print(const std::string& title) const {
    std::printf("%s: %zu lookups compared\n", title.c_str(), compared);
    for (const auto& [k, n] : known) std::printf("  known difference (%zu): %s\n", n, NameOf(k).c_str());
  }
};

std::string Show(const std::optional<std::string>& v) {
  if (!v) return "(missing)";
  std::string s = *v;
  if (s.size() > 60) s = s.substr(0, 60) + "...(" + std::to_string(v->size()) + ")";
  return "\"" + s + "\"";
}

// Compares every candidate lookup of one file.
void CompareReads(const std::string& label, const std::string& path, Report* report) {
  auto bytes = ReadWholeFile(path);
  ASSERT_TRUE(bytes.ok()) << path;
  const ProfileFile ours = ProfileFile::Parse(*bytes, path);
  std::set<std::string> sections, keys;
  Candidates(path, *bytes, &sections, &keys);
  const std::set<std::string> open_sections = OpenBracketSections(*bytes);
  for (const std::string& section : sections) {
    const ProfileSection indexed = ProfileSection::Parse(*bytes, section);
    for (const std::string& key : keys) {
      const std::optional<std::string> theirs = PlatformGet(path, section, key);
      const std::optional<std::string> mine = ours.Get(section, key);
      // Our two readers must agree with each other whatever the platform says.
      auto fast = indexed.Get(key);
      std::optional<std::string> fast_value;
      if (fast) fast_value = std::string(*fast);
      EXPECT_EQ(mine, fast_value) << label << " [" << section << "] " << key;
      ++report->compared;
      if (theirs == mine) continue;
      if (auto known = Explain(section, key, theirs, mine, open_sections)) {
        ++report->known[*known];
        continue;
      }
      report->Unexplained(label + " [" + section + "] \"" + key + "\": platform " + Show(theirs) +
                          ", ours " + Show(mine));
    }
  }
}

// The files side by side: real databases, the sample files of the repository, and the
// generated ones.
std::vector<std::pair<std::string, std::string>> GeneratedCorpus() {
  std::string long_value(6000, 'v');
  long_value[4998] = 'X';
  return {
      {"odd-spacing", "[sec]\r\nkey=value\r\n  key2  =  spaced value  \r\n\tkey3\t=\ttabbed\t\r\n"
                      "key4 = a = b\r\n =nokey\r\nkey5=\r\nkey6=   \r\n  [ spaced ]  \r\nk=1\r\n"},
      {"quotes", "[q]\r\na=\"double\"\r\nb='single'\r\nc=\"unclosed\r\nd=\"mixed'\r\n"
                 "e=\"\"\r\nf=\"a\"b\"\r\ng= \"blanks outside\" \r\nh=\" blanks inside \"\r\n"
                 "i=x\"y\"\r\nj='\r\nk=\"\r\n"},
      {"duplicates", "[a]\r\nk=first\r\nK=second\r\n[b]\r\nk=b1\r\n[A]\r\nk=third\r\nnew=later\r\n"
                     "[a]\r\nk=fourth\r\n"},
      {"no-final-eol", "[s]\r\nk=v\r\nlast=end"},
      {"lone-cr-end", "[s]\r\nk=v\r\nlast=end\r"},
      {"lf-only", "[s]\nk=v\nk2=v2\n[t]\nx=y\n"},
      {"mixed-eol", "[s]\r\nk=v\nk2=v2\r\n\r\n[t]\nx=y"},
      {"long-value", "[s]\r\nlong=" + long_value + "\r\nshort=ok\r\n"},
      {"outside-sections", "stray=line\r\nhere\r\n[s]\r\nk=v\r\n"},
      {"comments", "; a comment\r\n[s]\r\n;k=commented\r\n#h=hash\r\nk=v ; not a comment\r\n"},
      {"no-equals", "[s]\r\njust words\r\nk=v\r\n"},
      {"brackets", "[s]\r\nk=[v]\r\n[t\r\nx=1\r\n[u]extra\r\ny=2\r\n[]\r\nz=3\r\n"},
      {"high-bytes", "[s\xe9]\r\nk\xe9=v\xe9\xff\r\nk=caf\xc3\xa9\r\n"},
      {"empty-file", ""},
      {"blank-lines", "\r\n\r\n[s]\r\n\r\nk=v\r\n\r\n"},
      {"section-forms", "[t=1\r\n[a]b]=x\r\nk=in a]b\r\n[u]extra\r\ny=2\r\n  [lead]\r\nl=1\r\n"
                        "[ in ]\r\ni=1\r\n[x] ; c\r\nxc=1\r\n"},
      {"carriage-returns", "[s]\r\nk=a\rb\r\nk2=v\r\r\nk3=\rv\r\n"},
      {"other-space", "[s]\r\nk=\vv\f\r\nk2=v\x1a\r\nk3=\t\tv \t\r\n"},
      {"nul-byte", std::string("[s]\r\nk=a\0b\r\nk2=v\r\n", 21)},
      {"utf8-bom", "\xEF\xBB\xBF[s]\r\nk=v\r\n"},
      {"crc-like", "[nes]\r\n1a2b3c4d=Game|Game (U)|1990|Maker\r\n00000000=zero\r\n"
                   "#comment=x\r\nDEADBEEF=dead\r\n"},
  };
}

TEST(ProfileDiffTest, ReadsAgreeWithThePlatform) {
  test::TempDir dir;
  std::vector<std::pair<std::string, std::string>> files;  // label, path
  const std::string data = test::TestDataDir();
  if (!data.empty()) {
    for (const char* name : {"nes.crc", "a2600.crc", "coleco.crc", "gameboy.crc"}) {
      files.emplace_back(name, data + "/mess/crc/" + name);
    }
  }
  for (const char* name : {"mess/crc/nes.crc", "mess/crc/a2600.crc", "dk/dirs.ini",
                           "dk/cfgs/template.cfg"}) {
    files.emplace_back(std::string("examples/") + name, std::string(QUORVIN_EXAMPLES) + "/" + name);
  }
  for (const auto& [label, bytes] : GeneratedCorpus()) {
    const std::string path = dir / (label + ".ini");
    test::WriteFile(path, bytes);
    files.emplace_back(label, path);
  }
  Report report;
  for (const auto& [label, path] : files) CompareReads(label, path, &report);
  report.Print("Reading");
  for (const std::string& u : report.unexplained) ADD_FAILURE() << u;
}

}  // namespace
}  // namespace quorvin
