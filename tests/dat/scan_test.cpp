#include "dat/scan.h"

#include <gtest/gtest.h>

#include "dat/dat_format.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

const std::string kWorkedExample =
    "clrmamepro (\r\n"
    "\tname nes\r\n"
    "\tDescription \"Nintendo NES\"\r\n"
    "\tauthor \"Auto Generated With Quorvin Utility\"\r\n"
    ")\r\n"
    "\r\n"
    "game (\r\n"
    "\tname Alpha\r\n"
    "\tdescription \"Alpha\"\r\n"
    "\trom ( name Alpha size 3 crc 352441C2 )\r\n"
    ")\r\n"
    "\r\n"
    "game (\r\n"
    "\tname \"Beta Game\"\r\n"
    "\tdescription \"Beta Game\"\r\n"
    "\trom ( name \"Beta Game\" size 2 crc E7DDCE )\r\n"
    ")\r\n"
    "\r\n";

DatScanInput Input(const std::string& folders, const std::string& ext = ".nes") {
  return {"nes", "Nintendo NES", "Auto Generated With Quorvin Utility", folders, ext};
}

TEST(ScanTest, ReproducesTheWorkedExampleByteForByte) {
  TempDir dir;
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/Alpha.nes", "abc");
  WriteFile(dir / "roms/Beta Game.nes", "ae");
  WriteFile(dir / "roms/notes.txt", "x");
  test::RecordingReporter rep;
  ASSERT_TRUE(MakeDat(Input(dir / "roms"), dir / "tempdat.dat", rep).ok());
  EXPECT_EQ(ReadFile(dir / "tempdat.dat"), kWorkedExample);
  EXPECT_EQ(rep.file_statuses,
            (std::vector<std::string>{"Status:  Parsing Alpha", "Status:  Parsing Beta Game"}));
  EXPECT_EQ(rep.last_total, 2u);
  // A trailing separator, blanks around the piece and empty pieces change nothing.
  ASSERT_TRUE(MakeDat(Input(" " + dir / "roms/ ;; "), dir / "t2.dat", rep).ok());
  EXPECT_EQ(ReadFile(dir / "t2.dat"), kWorkedExample);
}

TEST(ScanTest, GameNamesLoseTheExtensionThatMatched) {
  TempDir dir;
  WriteFile(dir / "Tetris.gb", "");
  WriteFile(dir / "zero.GB", "");
  test::RecordingReporter rep;
  ASSERT_TRUE(MakeDat(Input(dir.path(), ".gb"), dir / "t.dat", rep).ok());
  std::string dat = ReadFile(dir / "t.dat");
  EXPECT_NE(dat.find("game (\r\n\tname Tetris\r\n\tdescription \"Tetris\"\r\n"
                     "\trom ( name Tetris size 0 crc 0 )\r\n)\r\n\r\n"),
            std::string::npos);
  EXPECT_NE(dat.find("\tname zero\r\n"), std::string::npos);
}

TEST(ScanTest, FoldersInOrderThenNamesInOrder) {
  TempDir dir;
  test::MakeDir(dir / "b");
  test::MakeDir(dir / "a");
  WriteFile(dir / "b/z.nes", "1");
  WriteFile(dir / "b/y.nes", "2");
  WriteFile(dir / "a/x.nes", "3");
  test::RecordingReporter rep;
  ASSERT_TRUE(MakeDat(Input(dir / "b;" + dir / "a"), dir / "t.dat", rep).ok());
  std::string dat = ReadFile(dir / "t.dat");
  size_t y = dat.find("name y"), z = dat.find("name z"), x = dat.find("name x");
  EXPECT_LT(y, z);
  EXPECT_LT(z, x);
}

TEST(ScanTest, HeaderTrimsTheSystemNameAndNeverQuotesIt) {
  TempDir dir;
  test::RecordingReporter rep;
  DatScanInput in = Input(dir.path());
  in.system_name = "  Sega Master  ";
  ASSERT_TRUE(MakeDat(in, dir / "t.dat", rep).ok());
  EXPECT_EQ(ReadFile(dir / "t.dat"),
            "clrmamepro (\r\n\tname Sega Master\r\n\tDescription \"Nintendo NES\"\r\n"
            "\tauthor \"Auto Generated With Quorvin Utility\"\r\n)\r\n\r\n");
}

TEST(ScanTest, FailuresNameThePathAndLeaveTheDatAsItWas) {
  TempDir dir;
  test::MakeDir(dir / "roms");
  WriteFile(dir / "t.dat", "previous");
  test::RecordingReporter rep;
  Status s = MakeDat(Input(dir / "roms;" + dir / "Roms2"), dir / "t.dat", rep);
  EXPECT_EQ(s.kind(), ErrorKind::kNotFound);
  EXPECT_EQ(s.message(), "The ROM folder " + dir / "Roms2" + " does not exist");
  EXPECT_EQ(ReadFile(dir / "t.dat"), "previous");

  for (const char* ext : {".zip", "  .ZIP", ".Zip"}) {
    rep.messages.clear();
    s = MakeDat(Input(dir / "roms", ext), dir / "t.dat", rep);
    if (std::string(ext) == "  .ZIP") {
      EXPECT_TRUE(s.ok());  // only ".ZIP" exactly is refused
      WriteFile(dir / "t.dat", "previous");
      continue;
    }
    EXPECT_EQ(s.kind(), ErrorKind::kRefused);
    EXPECT_EQ(rep.messages,
              std::vector<std::string>{"Sorry Not Supported Yet: Zipped roms are not supported "
                                       "yet, unzip your roms and try again"});
    EXPECT_EQ(ReadFile(dir / "t.dat"), "previous");
  }
}

TEST(DatFormatTest, LineForms) {
  EXPECT_EQ(CrcText(0x00E7DDCE), "E7DDCE");
  EXPECT_EQ(CrcText(0xFFFFFFFF), "FFFFFFFF");
  EXPECT_EQ(CrcText(0), "0");
  EXPECT_EQ(GameDescriptionLine("\"Beta Game\""), "\tdescription \"Beta Game\"");
  EXPECT_EQ(RomLine("a", 0, "0"), "\trom ( name a size 0 crc 0 )");
}

TEST(ScanTest, RomLineTrimsBlanksBeforeTheExtension) {
  TempDir dir;
  WriteFile(dir / " Odd .nes", "abc");
  auto line = MakeRomLine(dir / " Odd .nes", ".nes");
  ASSERT_TRUE(line.ok());
  EXPECT_EQ(*line, "\trom ( name Odd size 3 crc 352441C2 )");
}

}  // namespace
}  // namespace quorvin
