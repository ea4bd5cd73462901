#include "inject/compare_pass.h"

#include <gtest/gtest.h>

#include "inject/crc_database.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kHeader =
    "clrmamepro (\r\n\tname nes\r\n\tDescription \"nes\"\r\n\tauthor \"a\"\r\n)\r\n\r\n";

std::string Block(const std::string& token, const std::string& crc) {
  std::string bare = token.front() == '"' ? token.substr(1, token.size() - 2) : token;
  return "game (\r\n\tname " + token + "\r\n\tdescription \"" + bare + "\"\r\n\trom ( name " +
         token + " size 1 crc " + crc + " )\r\n)\r\n\r\n";
}

class ComparePassTest : public ::testing::Test {
 protected:
  ComparePassTest() {
    WriteFile(
        dir / "nes.crc",
        "[nes]\r\n1a2b3c4d=Super Game: Deluxe | 1987 | Maker Co. | status good\r\n"
        "11=First Game (E) [!]\r\n22=Second Game (U) [T+Fre]\r\n33=Second Game (U) [T+Fre]\r\n");
    db = CrcDatabase::Load(dir / "nes.crc").value();
    table = *ConversionTable::Load(dir / "nes.cnv");
  }
  Status Run(const std::string& temp) {
    WriteFile(dir / "temp.dat", temp);
    return ComparePass(dir / "temp.dat", dir / "out.dat", db, &table, rep);
  }
  test::TempDir dir;
  test::RecordingReporter rep;
  CrcDatabase db;
  ConversionTable table;
};

TEST_F(ComparePassTest, WritesEveryGameThroughTheEntryWriterAndRecordsRenames) {
  ASSERT_TRUE(Run(kHeader + Block("sg1", "1A2B3C4D") + Block("rom001", "11") +
                  Block("\"Rom 2\"", "22") + Block("nomatch", "44"))
                  .ok());
  EXPECT_EQ(
      ReadFile(dir / "out.dat"),
      kHeader +
          "game (\r\n\tname \"Super Game Deluxe\"\r\n\tdescription \"Super Game: "
          "Deluxe\"\r\n\tyear 1987\r\n"
          "\tmanufacturer \"Maker Co.\"\r\n\trom ( name \"Super Game Deluxe\" size 1 crc 1A2B3C4D "
          ")\r\n"
          "\tdriver ( status good )\r\n)\r\n\r\n"
          "game (\r\n\tname \"First Game (E) [!]\"\r\n\tdescription \"First Game (E) [!]\"\r\n"
          "\trom ( name \"First Game (E) [!]\" size 1 crc 11 )\r\n)\r\n\r\n"
          "game (\r\n\tname \"Second Game (U) [T+Fre]\"\r\n\tdescription \"Second Game (U) "
          "[T+Fre]\"\r\n"
          "\trom ( name \"Second Game (U) [T+Fre]\" size 1 crc 22 )\r\n)\r\n\r\n" +
          Block("nomatch", "44"));
  ASSERT_TRUE(table.Save().ok());
  EXPECT_EQ(ReadFile(dir / "nes.cnv"),
            "[Conversion]\r\nsg1=Super Game Deluxe\r\nrom001=First Game (E) [!]\r\nRom 2=Second "
            "Game (U) [T+Fre]\r\n"
            "[Reversion]\r\nSuper Game Deluxe=sg1\r\nFirst Game (E) [!]=rom001\r\nSecond Game (U) "
            "[T+Fre]=Rom 2\r\n");
  EXPECT_EQ(rep.file_statuses[0], "Status:  Comparing \tname sg1");
  EXPECT_EQ(rep.statuses, std::vector<std::string>{"Status:  Preparing For Mess Compare"});
}

TEST_F(ComparePassTest, BlockWithoutRomLineEndsAtItsClose) {
  const std::string bare =
      "game (\r\n\tname lone\r\n\tdescription \"lone\"\r\n\tcomment x\r\n)\r\n\r\n";
  ASSERT_TRUE(Run(kHeader + bare + Block("rom001", "11")).ok());
  std::string out = ReadFile(dir / "out.dat");
  EXPECT_EQ(out.substr(0, kHeader.size() + bare.size()), kHeader + bare);
  EXPECT_NE(out.find("\tname \"First Game (E) [!]\""), std::string::npos);
}

// Blocks in shapes the scan never writes (the fuzzer's smallest cases): each is written as
// it stands, or enriched with its other lines kept, and never takes lines from another.
TEST_F(ComparePassTest, BlocksOfOtherShapesKeepEveryLineInItsBlock) {
  const std::string good =
      "game (\r\n\tname b\r\n\tdescription \"b\"\r\n"
      "\trom ( name b size 1 crc 44 )\r\n)\r\n\r\n";
  struct Case {
    const char* label;
    std::string in, out;
  } cases[] = {
      {"no description line", "game (\n\tname a\n\trom ( name a size 1 crc 11 )\n)\n",
       "game (\r\n\tname a\r\n\trom ( name a size 1 crc 11 )\r\n)\r\n"},
      {"empty block before a game", "game (\n)\n\n" + good, "game (\r\n)\r\n\r\n" + good},
      {"block without its close", "game (\n\tname a\n" + good, "game (\r\n\tname a\r\n" + good},
      {"rom line without name and description",
       "game (\n\trom ( name a size 1 crc 11 )\n)\n" + good,
       "game (\r\n\trom ( name a size 1 crc 11 )\r\n)\r\n" + good},
      {"a line between description and rom line",
       "game (\n\tname a\n\tdescription \"a\"\n\tyear 1\n\trom ( name a size 1 crc 11 )\n)\n",
       "game (\r\n\tname \"First Game (E) [!]\"\r\n\tdescription \"First Game (E) [!]\"\r\n"
       "\tyear 1\r\n\trom ( name \"First Game (E) [!]\" size 1 crc 11 )\r\n)\r\n"},
      {"lines after the rom line and a second rom line",
       "game (\n\tname a\n\tdescription \"a\"\n\trom ( name a size 1 crc 44 )\n"
       "\trom ( name x size 1 crc 11 )\n\tcomment c\n)\n",
       "game (\r\n\tname a\r\n\tdescription \"a\"\r\n\trom ( name a size 1 crc 44 )\r\n"
       "\trom ( name x size 1 crc 11 )\r\n\tcomment c\r\n)\r\n"},
      {"ends inside a block", "game (\n\tname a\n\tdescription \"a\"",
       "game (\r\n\tname a\r\n\tdescription \"a\"\r\n"},
      {"ends after the name", "game (\n\tname a\n", "game (\r\n\tname a\r\n"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(Run(kHeader + c.in).ok()) << c.label;
    EXPECT_EQ(ReadFile(dir / "out.dat"), kHeader + c.out) << c.label;
  }
}

TEST_F(ComparePassTest, HeaderOnlyDatIsCopiedWhole) {
  ASSERT_TRUE(Run(kHeader).ok());
  EXPECT_EQ(ReadFile(dir / "out.dat"), kHeader);
}

TEST_F(ComparePassTest, TwoGamesWithOneGoodNameRecordOnlyTheFirst) {
  ASSERT_TRUE(Run(kHeader + Block("a", "22") + Block("b", "33")).ok());
  EXPECT_EQ(table.LookupConversion("A"), "Second Game (U) [T+Fre]");
  EXPECT_EQ(table.LookupConversion("B"), "");
  EXPECT_EQ(table.LookupReversion("SECOND GAME (U) [T+FRE]"), "a");
  EXPECT_EQ(rep.warnings, std::vector<std::string>{"Two games have the good name \"Second Game (U) "
                                                   "[T+Fre]\": \"a\" and \"b\"; only \"a\" will "
                                                   "be renamed"});
}

TEST_F(ComparePassTest, FailureLeavesTheOutputAsItWas) {
  WriteFile(dir / "out.dat", "old");
  Status s = ComparePass(dir / "missing.dat", dir / "out.dat", db, &table, rep);
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(ReadFile(dir / "out.dat"), "old");
}

}  // namespace
}  // namespace quorvin
