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
  kNul,          // a NUL byte: data to us, the end of the name or value to the platform
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
      return "a NUL byte is kept in a name or a value";
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

// The file as the platform's reader splits it: a CR not before an LF ends a line too.
std::string LoneCrsAsLineEnds(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    out.push_back(bytes[i]);
    if (bytes[i] == '\r' && (i + 1 == bytes.size() || bytes[i + 1] != '\n')) out.push_back('\n');
  }
  return out;
}

// The file as the platform's reader sees names and values: each ends at a NUL byte (a key's
// rest runs to the "=", a value's to the line end).
std::string CutAtNul(std::string_view bytes) {
  std::string out;
  bool skipping = false;
  for (char c : bytes) {
    if (c == '\n') skipping = false;
    if (skipping && c == '=') skipping = false;
    if (c == '\0') skipping = true;
    if (!skipping) out.push_back(c);
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
  // Case and blanks: names are found whatever their case and the blanks around them. (Not
  // for the large real databases: every spelling there is one more pass of the platform's
  // reader over thousands of keys, and the generated files try them all.)
  if (keys->size() > 300) {
    sections->insert("no such section");
    return;
  }
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
  // Lone CRs and NUL bytes shift what the platform takes for lines and names: our reading of
  // the file with them put the platform's way explains the lookups they change.
  const bool has_nul = bytes->find('\0') != std::string::npos;
  const bool has_lone_cr = LoneCrsAsLineEnds(*bytes).size() != bytes->size();
  const ProfileFile cr_way = ProfileFile::Parse(LoneCrsAsLineEnds(*bytes));
  const ProfileFile nul_way = ProfileFile::Parse(CutAtNul(*bytes));
  const ProfileFile both_ways = ProfileFile::Parse(CutAtNul(LoneCrsAsLineEnds(*bytes)));
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
      if (has_lone_cr && (theirs == cr_way.Get(section, key) ||
                          (has_nul && theirs == both_ways.Get(section, key)))) {
        ++report->known[Known::kLoneCr];
        continue;
      }
      if (has_nul && theirs == nul_way.Get(section, key)) {
        ++report->known[Known::kNul];
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
  // The fuzzers' corpora of profile files, when the checkout has them.
  std::error_code ec;
  for (const char* corpus : {"profile_read", "crc_database", "conversion_table", "dk_setup"}) {
    const std::string folder = std::string(QUORVIN_FUZZ_CORPUS) + "/" + corpus;
    for (fs::directory_iterator it(test::Native(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
      if (!it->is_regular_file() || it->file_size() > (1 << 20)) continue;
      const std::string name = Narrow(it->path().filename().wstring());
      files.emplace_back(std::string(corpus) + "/" + name, folder + "/" + name);
    }
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

struct Write {
  std::string section, key, value;
};

struct WriteCase {
  std::string label;
  std::string bytes;
  std::vector<Write> writes;
};

std::vector<WriteCase> WriteCases() {
  const std::string dirs =
      "[Dirs]\r\nroms=C:\\Roms\\nes\r\nartwork=\r\n\r\n[Options]\r\nfullscreen = 1\r\n";
  return {
      {"replace in place", dirs, {{"Dirs", "roms", "C:\\Roms\\nes;D:\\More"}}},
      {"key of another case", dirs, {{"DIRS", "ROMS", "x"}}},
      {"new key before the blank line", dirs, {{"Dirs", "snap", "C:\\Snap"}}},
      {"new section at the end", dirs, {{"Conversion", "ROM1", "GOOD ONE"}}},
      {"new file", "", {{"Conversion", "ROM1", "Good One"}, {"Reversion", "Good One", "ROM1"}}},
      {"no final line end", "[s]\r\nk=v", {{"s", "n", "w"}}},
      {"no final line end, new section", "[s]\r\nk=v", {{"t", "n", "w"}}},
      {"LF file", "[s]\nk=v\n\n[t]\nx=y\n", {{"s", "k", "new"}, {"t", "z", "1"}}},
      {"duplicate sections", "[a]\r\nk=1\r\n[b]\r\n[A]\r\nk=2\r\n", {{"a", "k", "3"}}},
      {"duplicate keys", "[a]\r\nk=1\r\nK=2\r\n", {{"a", "k", "3"}}},
      {"spaced key", "[a]\r\n  k  =  1  \r\n", {{"a", "k", "2"}}},
      {"comments kept", "; top\r\n[a]\r\n; note\r\nk=1\r\n", {{"a", "k", "2"}, {"a", "j", "3"}}},
      {"empty value", "[a]\r\nk=1\r\n", {{"a", "k", ""}}},
      {"value with blanks around", "[a]\r\n", {{"a", "k", "  padded  "}}},
      {"quoted value", "[a]\r\n", {{"a", "k", "\"quoted\""}, {"a", "j", "'single'"}}},
      {"value with = and ;", "[a]\r\n", {{"a", "k", "a=b;c"}}},
      {"long value", "[a]\r\n", {{"a", "k", std::string(6000, 'w')}}},
      {"many writes", "", {{"s", "a", "1"}, {"s", "b", "2"}, {"t", "a", "3"}, {"s", "a", "4"}}},
  };
}

// Every key of every section as the platform reads it.
std::map<std::pair<std::string, std::string>, std::optional<std::string>> PlatformView(
    const std::string& path, const std::set<std::string>& sections,
    const std::set<std::string>& keys) {
  std::map<std::pair<std::string, std::string>, std::optional<std::string>> out;
  for (const std::string& s : sections) {
    for (const std::string& k : keys) out[{s, k}] = PlatformGet(path, s, k);
  }
  return out;
}

std::string Escaped(std::string_view s) { return ForMessage(s, 400); }

// Both writers apply the same writes to copies of one file. What the platform then reads
// from our file must be what it reads from its own; where the bytes differ, the difference
// is printed.
TEST(ProfileDiffTest, WritesReadBackAsThePlatformsOwn) {
  test::TempDir dir;
  size_t same_bytes = 0;
  size_t quoted = 0;
  std::vector<std::string> layout_differences;
  for (const WriteCase& c : WriteCases()) {
    const std::string base = dir / (std::to_string(&c - &WriteCases()[0]) + "-");
    const std::string theirs_path = base + "platform.ini";
    const std::string ours_path = base + "ours.ini";
    if (!c.bytes.empty() || c.label != "new file") {
      test::WriteFile(theirs_path, c.bytes);
      test::WriteFile(ours_path, c.bytes);
    }
    auto ours = ProfileFile::Load(ours_path);
    ASSERT_TRUE(ours.ok()) << c.label;
    for (const Write& w : c.writes) {
      WritePrivateProfileStringA(w.section.c_str(), w.key.c_str(), w.value.c_str(),
                                 theirs_path.c_str());
      ASSERT_TRUE(ours->Set(w.section, w.key, w.value).ok()) << c.label;
    }
    ASSERT_TRUE(ours->Save(ours_path).ok()) << c.label;
    // Wine keeps profiles it has read in memory; our file is new to it.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, nullptr);
    const std::string theirs_bytes = test::ReadFile(theirs_path);
    const std::string ours_bytes = test::ReadFile(ours_path);

    std::set<std::string> sections, keys;
    Candidates(theirs_path, theirs_bytes, &sections, &keys);
    Candidates(ours_path, ours_bytes, &sections, &keys);
    for (const Write& w : c.writes) {
      sections.insert(w.section);
      keys.insert(w.key);
    }
    // The last value written to each key, by upper-cased section and key.
    std::map<std::pair<std::string, std::string>, std::string> written;
    for (const Write& w : c.writes) {
      written[{ToUpperAscii(w.section), ToUpperAscii(w.key)}] = w.value;
    }
    auto theirs_view = PlatformView(theirs_path, sections, keys);
    auto ours_view = PlatformView(ours_path, sections, keys);
    for (const auto& [where, value] : theirs_view) {
      auto w = written.find({ToUpperAscii(std::string(TrimBlanks(where.first))),
                             ToUpperAscii(std::string(TrimBlanks(where.second)))});
      if (w != written.end() && ProfileValueView("k=" + w->second) != w->second) {
        // A value the reader would trim or unquote: we write it in quotes, so that the
        // platform's reader, too, gives back the value as it was written.
        EXPECT_EQ(ours_view[where], w->second) << c.label;
        ++quoted;
        continue;
      }
      EXPECT_EQ(ours_view[where], value)
          << c.label << ": [" << where.first << "] " << where.second << "\n  platform wrote: "
          << Escaped(theirs_bytes) << "\n  we wrote:       " << Escaped(ours_bytes);
    }
    // What we wrote reads back through our own reader as written.
    auto reread = ProfileFile::Load(ours_path);
    ASSERT_TRUE(reread.ok());
    for (const Write& w : c.writes) {
      std::optional<std::string> expected;
      for (const Write& later : c.writes) {
        if (EqualsIgnoreCase(later.section, w.section) && EqualsIgnoreCase(later.key, w.key)) {
          expected = later.value;
        }
      }
      EXPECT_EQ(reread->Get(w.section, w.key), expected) << c.label;
    }
    if (theirs_bytes == ours_bytes) {
      ++same_bytes;
    } else {
      layout_differences.push_back(c.label + "\n    platform: " + Escaped(theirs_bytes) +
                                   "\n    ours:     " + Escaped(ours_bytes));
    }
  }
  std::printf("Writing: %zu of %zu cases give the same bytes; %zu lookups of values we wrote in "
              "quotes (blanks around, or quotes that a reader would take off)\n",
              same_bytes, WriteCases().size(), quoted);
  // The other byte differences are layout only (the lookups above agree): the platform's
  // writer under Wine rewrites the whole file (blank lines dropped, "k = v" as "k=v", LF as
  // CR LF) where Windows and we change only the line concerned; and a replaced key line
  // takes the key as the caller spells it.
  for (const std::string& d : layout_differences) std::printf("  differs: %s\n", d.c_str());
}

}  // namespace
}  // namespace quorvin
