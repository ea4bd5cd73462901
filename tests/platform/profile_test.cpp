#include "platform/profile.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

TEST(ProfileTest, ReadsWithTheReaderMatchingRules) {
  ProfileFile p = ProfileFile::Parse(
      "here\n[NES]\n3795b948 = Game A | 1987\nKEY=\"quoted\"\nk2='single'\nk3=\"unbalanced\n"
      "dup=first\nDUP=second\n[nes]\nlater=x\n[Other]\nk=v\n");
  EXPECT_EQ(p.Get("nes", "3795B948"), "Game A | 1987");
  EXPECT_EQ(p.Get("Nes", "key"), "quoted");
  EXPECT_EQ(p.Get("nes", "k2"), "single");
  EXPECT_EQ(p.Get("nes", "k3"), "\"unbalanced");
  EXPECT_EQ(p.Get("nes", "dup"), "first");
  EXPECT_EQ(p.Get("nes", "later"), std::nullopt);  // only the first [nes] counts
  EXPECT_EQ(p.Get("other", "k"), "v");
  EXPECT_EQ(p.Get("missing", "k"), std::nullopt);
  EXPECT_EQ(p.Get("nes", "here"), std::nullopt);
}

TEST(ProfileTest, ValuesAreNeverCutShort) {
  std::string value(100000, 'v');
  ProfileFile p = ProfileFile::Parse("[Dirs]\r\nroms=" + value + "\r\n");
  EXPECT_EQ(p.Get("dirs", "ROMS"), value);
}

TEST(ProfileTest, SetKeepsEveryOtherLineByteForByte) {
  const std::string original =
      "; comment\n\n[Config]\r\nextension=.old\r\nother = 1\n\n[Next]\nx=y";
  struct Case {
    const char* section;
    const char* key;
    const char* value;
    std::string expected;
  } cases[] = {
      {"config", "EXTENSION", ".nes",
       "; comment\n\n[Config]\r\nEXTENSION=.nes\r\nother = 1\n\n[Next]\nx=y"},
      {"Config", "new", "v",
       "; comment\n\n[Config]\r\nextension=.old\r\nother = 1\nnew=v\r\n\n[Next]\nx=y"},
      {"Next", "z", "w",
       "; comment\n\n[Config]\r\nextension=.old\r\nother = 1\n\n[Next]\nx=y\r\nz=w\r\n"},
      {"Added", "k", "v", original + "\r\n[Added]\r\nk=v\r\n"},
  };
  for (const Case& c : cases) {
    ProfileFile p = ProfileFile::Parse(original);
    ASSERT_TRUE(p.Set(c.section, c.key, c.value).ok());
    EXPECT_EQ(p.Serialize(), c.expected) << c.section << " " << c.key;
  }
}

TEST(ProfileTest, FileWithoutSectionsOrWithNulBytes) {
  ProfileFile p = ProfileFile::Parse(std::string("junk\0line\nno sections here\n", 27));
  EXPECT_EQ(p.Get("a", "b"), std::nullopt);
  ASSERT_TRUE(p.Set("Conversion", "ROM1", "GOOD").ok());
  EXPECT_EQ(p.Serialize(),
            std::string("junk\0line\nno sections here\n", 27) + "[Conversion]\r\nROM1=GOOD\r\n");
}

TEST(ProfileTest, RefusesKeysAndValuesThatWouldBreakTheFile) {
  ProfileFile p;
  EXPECT_FALSE(p.Set("s", "a=b", "v").ok());
  EXPECT_FALSE(p.Set("s", "", "v").ok());
  EXPECT_FALSE(p.Set("s", "[x", "v").ok());
  EXPECT_FALSE(p.Set("s", "k", "two\r\nlines").ok());
  EXPECT_EQ(p.Serialize(), "");
}

// Sets one value through the file: load, set, save.
Status WriteOne(const std::string& path, const char* section, const char* key, const char* value) {
  auto p = ProfileFile::Load(path);
  if (!p.ok()) return p.status();
  Status s = p->Set(section, key, value);
  return s.ok() ? p->Save(path) : s;
}

TEST(ProfileTest, FileRoundTripAndSectionRead) {
  test::TempDir dir;
  const std::string path = dir / "conv.cnv";
  ASSERT_TRUE(WriteOne(path, "Conversion", "ROM001", "FIRST GAME").ok());
  ASSERT_TRUE(WriteOne(path, "Reversion", "FIRST GAME", "ROM001").ok());
  ASSERT_TRUE(WriteOne(path, "Conversion", "ROM2", "SECOND").ok());
  EXPECT_EQ(
      test::ReadFile(path),
      "[Conversion]\r\nROM001=FIRST GAME\r\nROM2=SECOND\r\n[Reversion]\r\nFIRST GAME=ROM001\r\n");
  EXPECT_EQ(ProfileFile::Load(path)->Get("reversion", "first game"), "ROM001");
  EXPECT_EQ(ProfileFile::Load(dir / "none.ini")->Get("a", "b"), std::nullopt);
  auto section = ProfileSection::Read(path, "CONVERSION");
  ASSERT_TRUE(section.ok());
  EXPECT_EQ(section->entries().size(), 2u);
  EXPECT_EQ(section->Get("rom2"), "SECOND");
  EXPECT_EQ(ProfileSection::Read(dir / "none.ini", "a").status().kind(), ErrorKind::kNotFound);
}

TEST(ProfileTest, EveryReaderSplitsLinesAlike) {
  struct Case {
    const char* label;
    std::string bytes;
    std::optional<std::string> value;
  } cases[] = {
      {"lone CR at the end", "[nes]\nk=v\r", "v"},
      {"CR LF", "[nes]\r\nk=v\r\n", "v"},
      {"LF", "[nes]\nk=v\n", "v"},
      {"no end", "[nes]\nk=v", "v"},
      {"CR inside a line stays", "[nes]\nk=a\rb\n", "a\rb"},
      {"two CRs at the end", "[nes]\r\nk=v\r\r", "v\r"},
      {"section line with a lone CR", "[nes]\r", std::nullopt},
      {"UTF-8 byte-order mark", "\xEF\xBB\xBF[nes]\r\nk=v\r\n", "v"},
      {"\"[\" without \"]\" starts a section", "[nes]\r\n[open\r\nk=v\r\n", std::nullopt},
      {"the name runs to the last \"]\"", "[nes]x]\r\nk=v\r\n", std::nullopt},
  };
  test::TempDir dir;
  for (const Case& c : cases) {
    const std::string path = dir / "f.ini";
    test::WriteFile(path, c.bytes);
    auto file = ProfileFile::Load(path);
    ASSERT_TRUE(file.ok());
    EXPECT_EQ(file->Get("nes", "k"), c.value) << c.label;
    EXPECT_EQ(file->Serialize(), c.bytes) << c.label;
    auto section = ProfileSection::Read(path, "nes");
    ASSERT_TRUE(section.ok());
    auto got = section->Get("k");
    EXPECT_EQ(got ? std::optional<std::string>(*got) : std::nullopt, c.value) << c.label;
  }
}

TEST(ProfileTest, WritingAfterALastLineWithoutAFullEnd) {
  for (const char* end : {"", "\r"}) {
    const std::string bytes = std::string("[a]\nk=v") + end;
    ProfileFile p = ProfileFile::Parse(bytes);
    ASSERT_TRUE(p.Set("a", "n", "w").ok());
    EXPECT_EQ(p.Serialize(), "[a]\nk=v\r\nn=w\r\n");
    p = ProfileFile::Parse(bytes);
    ASSERT_TRUE(p.Set("b", "n", "w").ok());
    EXPECT_EQ(p.Serialize(), "[a]\nk=v\r\n[b]\r\nn=w\r\n");
    EXPECT_EQ(ProfileFile::Parse(p.Serialize()).Get("a", "k"), "v");
  }
}

TEST(ProfileTest, RefusesNamesItCouldNotReadBack) {
  test::TempDir dir;
  const std::string path = dir / "f.ini";
  const std::string original = "[a]\r\nk=old\r\n";
  test::WriteFile(path, original);
  struct Case {
    const char* section;
    const char* key;
  } cases[] = {{"a]b", "k"},  {"a\nb", "k"}, {"a\rb", "k"}, {"", "k"},   {"  ", "k"},
               {"a", "k\nx"}, {"a", "k=x"},  {"a", " [k"},  {"a", "  "}, {"]", "k"}};
  for (const Case& c : cases) {
    auto p = ProfileFile::Load(path);
    ASSERT_TRUE(p.ok());
    Status s = p->Set(c.section, c.key, "v");
    EXPECT_EQ(s.kind(), ErrorKind::kInvalidInput) << c.section << " / " << c.key;
    EXPECT_NE(s.message().find(path), std::string::npos) << s.message();
    EXPECT_EQ(p->Serialize(), original) << c.section << " / " << c.key;
    EXPECT_EQ(p->Get("a", "k"), "old");
  }
}

TEST(ProfileTest, EveryValueWithoutALineBreakReadsBackAsWritten) {
  for (const char* value : {"plain", " lead", "trail ", "\tx\t", "\"q\"", "'q'", "\"", "''", "",
                            "\"a\" b \"c\"", "a=b", "  ", "'\""}) {
    ProfileFile p;
    ASSERT_TRUE(p.Set("s", "k", value).ok()) << value;
    EXPECT_EQ(ProfileFile::Parse(p.Serialize()).Get("s", "k"), value) << p.Serialize();
  }
  ProfileFile p;
  ASSERT_TRUE(p.Set("s", "k", "plain").ok());
  EXPECT_EQ(p.Serialize(), "[s]\r\nk=plain\r\n");  // quotes only where they are needed
}

// The forms the platform's own reader takes this way (checked against it on Windows).
TEST(ProfileTest, SectionFormsAndByteOrderMarkAsThePlatformReadsThem) {
  ProfileFile p = ProfileFile::Parse("[]\r\nk=hidden\r\n[nes]x]\r\nk=odd\r\n");
  EXPECT_EQ(p.Get("", "k"), std::nullopt);
  EXPECT_EQ(p.Get("nes]x", "k"), "odd");
  EXPECT_FALSE(ProfileSection::Parse("[]\r\nk=hidden\r\n", "").Get("k").has_value());

  ProfileFile bom = ProfileFile::Parse("\xEF\xBB\xBF[a]\r\nk=v\r\n");
  ASSERT_TRUE(bom.Set("a", "n", "w").ok());
  ASSERT_TRUE(bom.Set("b", "x", "y").ok());
  EXPECT_EQ(bom.Serialize(), "\xEF\xBB\xBF[a]\r\nk=v\r\nn=w\r\n[b]\r\nx=y\r\n");
  EXPECT_EQ(ProfileSection::Parse("\xEF\xBB\xBF[a]\r\nk=v\r\n", "a").Get("k"), "v");
}

}  // namespace
}  // namespace quorvin
