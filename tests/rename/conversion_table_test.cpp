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
  ASSERT_TRUE(t->RecordConversion("rom3", "second").ok());
  EXPECT_EQ(t->RecordConversion("a=b", "c").kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(t->RecordConversion("a", "[c]").kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(t->RecordConversion("a", "'quoted'").kind(), ErrorKind::kInvalidInput);
  ASSERT_TRUE(t->Save().ok());
  EXPECT_EQ(test::ReadFile(dir / "nes.cnv"),
            "[Conversion]\r\nROM 2=SECOND GAME (U)\r\nROM3=SECOND\r\n"
            "[Reversion]\r\nSECOND GAME (U)=ROM 2\r\nFIRST=ROM3\r\nSECOND=ROM3\r\n");
  auto again = ConversionTable::Load(dir / "nes.cnv");
  EXPECT_EQ(again->LookupConversion("rom 2"), "SECOND GAME (U)");
  EXPECT_EQ(again->LookupReversion("FIRST"), "ROM3");
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

}  // namespace
}  // namespace quorvin
