#include "rename/conversion_table.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

TEST(ConversionTableTest, RecordRules) {
  test::TempDir dir;
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t.ok());
  // Nothing to record: equal names, equal but for quotes and case, an empty side.
  for (auto [a, b] :
       {std::pair{"", ""}, {"\"x y\"", "\"x y\""}, {"SUPER", "\"Super\""}, {"a", "\"\""}}) {
    EXPECT_TRUE(t->RecordConversion(a, b).ok());
  }
  ASSERT_TRUE(t->Save().ok());
  EXPECT_FALSE(test::Exists(dir / "nes.cnv"));

  ASSERT_TRUE(t->RecordConversion("\"Rom 2\"", "\"Second Game (U)\"").ok());
  ASSERT_TRUE(t->RecordConversion("rom3", "first").ok());
  ASSERT_TRUE(t->RecordConversion("rom3", "FIRST").ok());  // the same game in another folder
  EXPECT_EQ(t->RecordConversion("a=b", "c").kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(t->RecordConversion("b", "c=d").kind(), ErrorKind::kInvalidInput);
  ASSERT_TRUE(t->Save().ok());
  EXPECT_EQ(test::ReadFile(dir / "nes.cnv"),
            "[Conversion]\r\nRom 2=Second Game (U)\r\nrom3=FIRST\r\n"
            "[Reversion]\r\nSecond Game (U)=Rom 2\r\nFIRST=rom3\r\n");
  auto again = ConversionTable::Load(dir / "nes.cnv");
  EXPECT_EQ(again->LookupConversion("rom 2"), "Second Game (U)");
  EXPECT_EQ(again->LookupReversion("FIRST"), "rom3");
  EXPECT_EQ(again->LookupReversion("NONE"), "");
  EXPECT_EQ(ConversionTable::Load(dir / "missing.cnv")->LookupConversion("X"), "");
}

TEST(ConversionTableTest, HandEditedFilesReadAsProfiles) {
  test::TempDir dir;
  test::WriteFile(
      dir / "nes.cnv",
      "garbage line\n[conversion]\n  rom1 =  GOOD ONE  \n=x\n[Reversion\nGOOD ONE=ROM1\n");
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t->LookupConversion("ROM1"), "GOOD ONE");
  EXPECT_EQ(t->LookupReversion("GOOD ONE"), "ROM1");
}

TEST(ConversionTableTest, FailedSaveLeavesTheOldFile) {
  test::TempDir dir;
  test::WriteFile(dir / "nes.cnv", "[Conversion]\r\nA=B\r\n");
  test::MakeReadOnly(dir / "nes.cnv");
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t->RecordConversion("c", "d").ok());
  Status s = t->Save();
  EXPECT_EQ(s.message(), "The file " + dir / "nes.cnv" + " is read-only");
  EXPECT_EQ(test::ReadFile(dir / "nes.cnv"), "[Conversion]\r\nA=B\r\n");
}

// The table reads its file with the same line rules as the CRC database: a last line ending
// in a lone CR gives the same value.
TEST(ConversionTableTest, LastLineEndingInALoneCr) {
  test::TempDir dir;
  test::WriteFile(dir / "nes.cnv", "[Conversion]\r\nOLD=GOOD\r\n[Reversion]\r\nGOOD=OLD\r");
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t.ok());
  EXPECT_EQ(t->LookupConversion("OLD"), "GOOD");
  EXPECT_EQ(t->LookupReversion("GOOD"), "OLD");
}

// Names keep their letter case and every blank and TAB through a save and a load; keys
// still match without regard to case.
TEST(ConversionTableTest, NamesRoundTripExactly) {
  test::TempDir dir;
  const std::pair<std::string, std::string> pairs[] = {
      {"Blaster", "Blaster Zone (E) [!]"}, {"\" lead\"", "Lead Game"},
      {"\"trail  \"", "\" Spaced Out \""}, {"tab\t", "\tTabbed\t"},
      {"[bracket]", "[x] Game"},           {"'q'", "\"'Quoted' Game\""},
  };
  auto t = ConversionTable::Load(dir / "nes.cnv");
  for (const auto& [old_name, new_name] : pairs) {
    ASSERT_TRUE(t->RecordConversion(old_name, new_name).ok()) << old_name;
  }
  ASSERT_TRUE(t->Save().ok());
  auto again = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(again.ok());
  const std::pair<std::string, std::string> stored[] = {
      {"Blaster", "Blaster Zone (E) [!]"}, {" lead", "Lead Game"},
      {"trail  ", " Spaced Out "},         {"tab\t", "\tTabbed\t"},
      {"[bracket]", "[x] Game"},           {"'q'", "'Quoted' Game"},
  };
  for (const auto& [old_name, new_name] : stored) {
    EXPECT_EQ(again->LookupConversion(old_name), new_name) << old_name;
    EXPECT_EQ(again->LookupConversion(test::ToUpper(old_name)), new_name) << old_name;
    EXPECT_EQ(again->LookupReversion(new_name), old_name) << new_name;
    EXPECT_EQ(t->LookupReversion(new_name), old_name) << new_name;
  }
  EXPECT_EQ(again->LookupConversion("lead"), "");  // the blank is part of the name
  // A file written all in upper case, as earlier versions wrote it, still reads.
  test::WriteFile(dir / "old.cnv",
                  "[Conversion]\r\nBLASTER=BLASTER ZONE (E) [!]\r\n[Reversion]\r\n"
                  "BLASTER ZONE (E) [!]=BLASTER\r\n");
  auto old = ConversionTable::Load(dir / "old.cnv");
  EXPECT_EQ(old->LookupConversion("Blaster"), "BLASTER ZONE (E) [!]");
  EXPECT_EQ(old->LookupReversion("Blaster Zone (E) [!]"), "BLASTER");
}

// A pair is recorded whole or not at all, with the reader's own trimming (TABs included).
TEST(ConversionTableTest, PairsAreRecordedWholeOrNotAtAll) {
  test::TempDir dir;
  struct Case {
    std::string new_name;
    bool recorded;
  } cases[] = {
      {"\t[x]", true}, {"\t", false},   {" \t ", false},     {"a=b", false},
      {"x\ny", false}, {"x\ry", false}, {"[c]", true},       {std::string("n\0l", 3), false},
      {".", false},    {"..", false},   {"..escape", false}, {".hidden", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.new_name));
    test::TempDir d;
    auto t = ConversionTable::Load(d / "nes.cnv");
    Status s = t->RecordConversion("rom1", c.new_name);
    if (c.recorded) {
      EXPECT_TRUE(s.ok()) << s.message();
    }
    ASSERT_TRUE(t->Save().ok());
    auto again = ConversionTable::Load(d / "nes.cnv");
    for (const ConversionTable* table : {&*t, &*again}) {
      if (c.recorded) {
        EXPECT_EQ(table->LookupConversion("rom1"), c.new_name);
        EXPECT_EQ(table->LookupReversion(c.new_name), "rom1");
      } else {
        EXPECT_EQ(table->LookupConversion("rom1"), "");
        EXPECT_EQ(table->LookupReversion(c.new_name), "");
      }
    }
    if (!c.recorded) {
      EXPECT_FALSE(test::Exists(d / "nes.cnv"));
    }
  }
}

// Old names that the table could not tell apart, or that a file name cannot carry back.
TEST(ConversionTableTest, AmbiguousAndUnrecordableOldNames) {
  test::TempDir dir;
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t->RecordConversion("frog", "Frog One").ok());
  ASSERT_TRUE(t->RecordConversion("toad", "Toad Game").ok());
  Status s = t->RecordConversion("FROG", "Frog Two");
  EXPECT_EQ(s.kind(), ErrorKind::kRefused);
  EXPECT_EQ(s.message(),
            "The ROMs \"frog\" and \"FROG\" differ only in letter case, so the conversion file "
            "cannot tell them apart; neither is renamed");
  EXPECT_EQ(t->RecordConversion("Frog", "Frog One").kind(), ErrorKind::kRefused);
  // The same name twice (two folders): the same game is no ambiguity; two different games
  // are (one entry would rename both, one of them to the wrong game), as is a second ROM of
  // the name that has no good name (it must keep its name).
  ASSERT_TRUE(t->RecordConversion("toad", "Toad Game").ok());
  s = t->RecordConversion("toad", "Toad Two");
  EXPECT_EQ(s.kind(), ErrorKind::kRefused);
  EXPECT_EQ(s.message(),
            "Several ROMs named \"toad\" are different games, so the conversion file cannot "
            "tell them apart; none of them is renamed");
  ASSERT_TRUE(t->RecordConversion("newt", "Newt Game").ok());
  EXPECT_EQ(t->RecordConversion("newt", "").kind(), ErrorKind::kRefused);
  ASSERT_TRUE(t->RecordConversion("eft", "").ok());
  EXPECT_EQ(t->RecordConversion("eft", "Eft Game").kind(), ErrorKind::kRefused);
  ASSERT_TRUE(t->RecordConversion("\"old frog\"", "Frog Elder").ok());
  for (const char* quoted : {"a\"b", "\"quoted\"", "\"a \"b\""}) {
    EXPECT_EQ(t->RecordConversion(quoted, "Good").kind(), ErrorKind::kInvalidInput) << quoted;
  }
  ASSERT_TRUE(t->Save().ok());
  EXPECT_EQ(test::ReadFile(dir / "nes.cnv"),
            "[Conversion]\r\nold frog=Frog Elder\r\n[Reversion]\r\nFrog Elder=old frog\r\n");
  auto again = ConversionTable::Load(dir / "nes.cnv");
  for (const ConversionTable* table : {&*t, &*again}) {
    EXPECT_EQ(t->LookupConversion("frog"), "");
    EXPECT_EQ(t->LookupConversion("FROG"), "");
    EXPECT_EQ(table->LookupReversion("Frog One"), "");
    EXPECT_EQ(table->LookupConversion("\"quoted\""), "");
  }
  for (const char* name : {"toad", "newt", "eft"}) EXPECT_EQ(t->LookupConversion(name), "") << name;
}

// A ROM that already carries a good name keeps it, even when another ROM asked for the name
// first: the table never records another file's earlier name for it, which a revert would give
// to that ROM and its artwork.
TEST(ConversionTableTest, RomCarryingTheGoodNameWinsIt) {
  test::TempDir dir;
  auto t = ConversionTable::Load(dir / "nes.cnv");
  ASSERT_TRUE(t->RecordConversion("abc.", "Blaster").ok());
  ASSERT_TRUE(t->RecordConversion("zap", "Zap Game").ok());
  Status s = t->RecordConversion("Blaster", "Blaster");
  EXPECT_EQ(s.kind(), ErrorKind::kRefused);
  EXPECT_EQ(s.message(), "A ROM is already named \"Blaster\", so \"abc.\" is not renamed to it");
  // A ROM without a good name carries its own name just as well.
  ASSERT_TRUE(t->RecordConversion("dup", "Jet Duel").ok());
  EXPECT_EQ(t->RecordConversion("\"Jet Duel\"", "").kind(), ErrorKind::kRefused);
  EXPECT_EQ(t->RecordConversion("other", "Blaster").kind(), ErrorKind::kRefused);
  for (const char* name : {"abc.", "dup", "other"})
    EXPECT_EQ(t->LookupConversion(name), "") << name;
  EXPECT_EQ(t->LookupReversion("Blaster"), "");
  ASSERT_TRUE(t->Save().ok());
  EXPECT_EQ(test::ReadFile(dir / "nes.cnv"),
            "[Conversion]\r\nzap=Zap Game\r\n[Reversion]\r\nZap Game=zap\r\n");
}

// An earlier run's way back is replaced only when no file carries its good name any more.
TEST(ConversionTableTest, EarlierReversionEntryIsKeptWhileItsNameIsCarried) {
  test::TempDir dir;
  const std::string earlier =
      "[Conversion]\r\nBB frog=Frog Game\r\n[Reversion]\r\nFrog Game=BB frog\r\n";
  test::WriteFile(dir / "nes.cnv", earlier);
  auto t = ConversionTable::Load(dir / "nes.cnv");
  std::vector<std::string> asked;
  t->SetCarriedCheck([&asked](std::string_view name) {
    asked.emplace_back(name);
    return true;
  });
  Status s = t->RecordConversion("\"A frog\"", "\"Frog Game\"");
  EXPECT_EQ(s.kind(), ErrorKind::kRefused);
  EXPECT_EQ(s.message(),
            "A file already carries the good name \"Frog Game\", renamed from \"BB frog\" by an "
            "earlier run; \"A frog\" is not renamed, so that file can still be reverted");
  EXPECT_EQ(asked, std::vector<std::string>{"Frog Game"});
  EXPECT_TRUE(t->RecordConversion("bb FROG", "Frog Game").ok());  // the same file, any case
  ASSERT_TRUE(t->Save().ok());
  EXPECT_EQ(t->LookupReversion("frog game"), "bb FROG");

  test::WriteFile(dir / "nes.cnv", earlier);
  auto gone = ConversionTable::Load(dir / "nes.cnv");
  gone->SetCarriedCheck([](std::string_view) { return false; });
  EXPECT_TRUE(gone->RecordConversion("\"A frog\"", "\"Frog Game\"").ok());
  EXPECT_EQ(gone->LookupReversion("Frog Game"), "A frog");
  // Without a check every name counts as carried.
  test::WriteFile(dir / "nes.cnv", earlier);
  auto unknown = ConversionTable::Load(dir / "nes.cnv");
  EXPECT_EQ(unknown->RecordConversion("\"A frog\"", "\"Frog Game\"").kind(), ErrorKind::kRefused);
}

}  // namespace
}  // namespace quorvin
