// Whole runs over zipped ROMs: good names from both kinds of database, renaming and reverting
// archives with their artwork, damaged archives left alone.
#include <gtest/gtest.h>

#include <cstdio>

#include "dat/crc.h"
#include "dat/dat_format.h"
#include "run/runner.h"
#include "run/startup.h"
#include "test_util.h"
#include "zip_maker.h"

// See zip_archive_test.cpp.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace quorvin {
namespace {

using test::Contains;
using test::FolderEntries;
using test::MakeZip;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

std::string ToLowerHex(uint32_t crc) {
  char buf[9];
  std::snprintf(buf, sizeof buf, "%08x", crc);
  return buf;
}

// `size` bytes whose CRC-32 is `crc`.
std::string Forged(size_t size, uint32_t crc, char fill = 'r') {
  return test::ForgeCrc(std::string(size - 4, fill), crc);
}

class ZipRunTest : public ::testing::Test, protected test::RunFolders {
 protected:
  ZipRunTest() {
    UseNesMessAndArt();
    runner.settings.txtExtension = "zip";  // the run completes it to ".zip"
  }
  void CrcDatabase(const std::string& lines) {
    WriteFile(dir / "mess/crc/nes.crc", "[nes]\r\n" + lines);
  }
  void UseSoftwareList() {
    runner.SetMessPath(test::TestDataDir() + "/mame");  // hash/nes.xml, no crc/
    runner.settings.cmbHName.text = "nes";
  }
  size_t WarningsWith(const std::string& part) const {
    size_t n = 0;
    for (const std::string& w : rep.warnings) n += Contains(w, part) ? 1 : 0;
    return n;
  }
};

TEST_F(ZipRunTest, AMemberTheDatabaseKnowsNamesTheArchiveWhichIsRenamedAndReverted) {
  const std::string known = "some rom data";
  CrcDatabase(CrcText(Crc32(known)) + "=Good Cart (U)|1990|Maker|good\r\n");
  WriteFile(dir / "roms/mycart.zip",
            MakeZip({{.name = "readme.txt", .data = "hi"},
                     {.name = "cart.nes", .data = known, .deflate = true}}));
  WriteFile(dir / "roms/other.zip", MakeZip({{.name = "x.nes", .data = "unknown"}}));
  WriteFile(dir / "art/mycart.png", "png");
  WriteFile(dir / "art/mycart.txt", "txt");
  const std::string zip_before = ReadFile(dir / "roms/mycart.zip");

  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(rep.warnings.empty()) << rep.warnings[0];
  const std::string dat = ReadFile(dir / "out.dat");
  EXPECT_TRUE(Contains(dat,
                       "game (\r\n\tname \"Good Cart (U)\"\r\n\tdescription \"Good Cart (U)\"\r\n"
                       "\tyear 1990\r\n\tmanufacturer \"Maker\"\r\n"
                       "\trom ( name readme.txt size 2 crc "));
  // The members keep their names in the dat: they are the archive's, not ours.
  EXPECT_TRUE(Contains(dat, "\trom ( name cart.nes size 13 crc " + CrcText(Crc32(known)) +
                                " )\r\n\tdriver ( good )\r\n)"));
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"Good Cart (U).zip", "other.zip"}));
  EXPECT_EQ(FolderEntries(dir / "art"), (Names{"Good Cart (U).png", "Good Cart (U).txt"}));
  EXPECT_EQ(ReadFile(dir / "roms/Good Cart (U).zip"), zip_before);  // never written inside

  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"mycart.zip", "other.zip"}));
  EXPECT_EQ(FolderEntries(dir / "art"), (Names{"mycart.png", "mycart.txt"}));
}

TEST_F(ZipRunTest, MembersOfTwoGoodNamesAndTwoArchivesOfOneGoodName) {
  CrcDatabase(CrcText(Crc32("one")) + "=First|||\r\n" + CrcText(Crc32("two")) + "=Second|||\r\n" +
              CrcText(Crc32("again")) + "=First|1991||\r\n" + CrcText(Crc32("three")) +
              "=Third|||\r\n");
  // Two members that lead to two good names: the archive keeps its name.
  WriteFile(dir / "roms/mixed.zip",
            MakeZip({{.name = "a", .data = "one"}, {.name = "b", .data = "two"}}));
  // Two members of one good name are no conflict.
  WriteFile(dir / "roms/same.zip",
            MakeZip({{.name = "a", .data = "one"}, {.name = "b", .data = "again"}}));
  // Two archives of one good name: the second is not given it.
  WriteFile(dir / "roms/t1.zip", MakeZip({{.name = "a", .data = "three"}}));
  WriteFile(dir / "roms/t2.zip", MakeZip({{.name = "b", .data = "three"}}));
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(WarningsWith("the archive mixed.zip lead to more than one good name (\"First\", "
                         "\"Second\")"),
            1u);
  EXPECT_TRUE(Contains(ReadFile(dir / "out.dat"), "\tname mixed\r\n"));
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"First.zip", "Third.zip", "mixed.zip", "t2.zip"}));
  EXPECT_GE(runner.warnings(), 2u);  // the conflict and the second "Third"
}

TEST_F(ZipRunTest, SoftwareListSetsLoneHeaderedMembersAndShortNames) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  UseSoftwareList();
  // 10-Yard Fight (Euro, USA): software "10yard", prg df58fc5a (32 KiB), chr 2b8336ee (8 KiB).
  const std::string prg = Forged(32768, 0xdf58fc5a), chr = Forged(8192, 0x2b8336ee);
  const std::string nes_header = std::string("NES\x1A\x02\x01\x01\x00", 8) + std::string(8, '\0');
  // The emulator's own layout, under another name: renamed.
  WriteFile(dir / "roms/yard.zip",
            MakeZip({{.name = "nes-ty-0 prg.u1", .data = prg},
                     {.name = "nes-ty-0 chr.u2", .data = chr, .deflate = true}}));
  // The same under the software's short name: the good name in the dat, the file as it is.
  WriteFile(dir / "roms/10yard.zip", MakeZip({{.name = "nes-ty-0 chr.u2", .data = chr},
                                              {.name = "nes-ty-0 prg.u1", .data = prg}}));
  // One of the two roms alone is not the set.
  WriteFile(dir / "roms/half.zip", MakeZip({{.name = "nes-ty-0 prg.u1", .data = prg}}));
  // A lone headered .nes member, as a loose file would match.
  WriteFile(dir / "roms/headered.zip",
            MakeZip({{.name = "yard.nes", .data = nes_header + prg + chr, .deflate = true}}));
  ASSERT_TRUE(runner.StartCommand().ok());
  const std::string dat = ReadFile(dir / "out.dat");
  EXPECT_TRUE(Contains(dat,
                       "\tname \"10-Yard Fight (Euro, USA)\"\r\n\tdescription \"10-Yard Fight "
                       "(Euro, USA)\"\r\n\tyear 1985\r\n\tmanufacturer \"Nintendo\"\r\n"
                       "\trom ( name \"nes-ty-0 chr.u2\" size 8192 crc 2B8336EE )"));
  EXPECT_TRUE(Contains(dat, "\tname half\r\n"));
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"10-Yard Fight (Euro, USA).zip", "10yard.zip", "half.zip", "yard.zip"}))
      << "the lone headered member and the set match one software: only the first is renamed";
  EXPECT_EQ(WarningsWith("10-Yard Fight (Euro, USA)"), 1u);
}

TEST_F(ZipRunTest, DamagedAndMismatchedArchivesAreReportedAndKeepTheirNames) {
  CrcDatabase(CrcText(Crc32("good")) + "=Good One|||\r\n" + CrcText(Crc32("data")) +
              "=Data One|||\r\n" + CrcText(0x12345678) + "=Stored One|||\r\n");
  WriteFile(dir / "roms/ok.zip", MakeZip({{.name = "a", .data = "good"}}));
  const std::string cut = MakeZip({{.name = "a", .data = "data"}});
  WriteFile(dir / "roms/cut.zip", cut.substr(0, cut.size() - 10));
  WriteFile(dir / "roms/fake.zip", "not a zip");
  WriteFile(dir / "roms/lying.zip", MakeZip({{.name = "a", .data = "data", .crc = 0x12345678}}));
  WriteFile(dir / "art/cut.png", "png");
  // An earlier run named "cut": the damaged archive is still not renamed by that entry.
  WriteFile(dir / "home/conversions/nes.cnv",
            "[Conversion]\r\ncut=Data One\r\n[Reversion]\r\nData One=cut\r\n");
  runner.settings.chkVerify = 1;
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(WarningsWith(dir / "roms/cut.zip"), 1u);
  EXPECT_EQ(WarningsWith(dir / "roms/fake.zip"), 1u);
  EXPECT_EQ(WarningsWith("\"a\" of " + dir / "roms/lying.zip"), 1u);
  EXPECT_EQ(ExitStatusOf(Status::Ok(), runner.warnings()), kExitWarnings);
  const std::string dat = ReadFile(dir / "out.dat");
  EXPECT_FALSE(Contains(dat, "name cut"));
  EXPECT_FALSE(Contains(dat, "name fake"));
  EXPECT_TRUE(
      Contains(dat, "\tname lying\r\n\tdescription \"lying\"\r\n\trom ( name a size 4 crc " +
                        CrcText(Crc32("data")) + " )"));
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"Good One.zip", "cut.zip", "fake.zip", "lying.zip"}));
  EXPECT_EQ(FolderEntries(dir / "art"), (Names{"cut.png"}));
  EXPECT_EQ(ReadFile(dir / "roms/fake.zip"), "not a zip");
}

// The XML form lists every member of an archive as one rom element of its game.
TEST_F(ZipRunTest, XmlDatListsEveryMember) {
  CrcDatabase(CrcText(Crc32("one")) + "=Good Pair|1990||\r\n");
  WriteFile(dir / "roms/pair.zip",
            MakeZip({{.name = "a b.bin", .data = "one"}, {.name = "c.bin", .data = "two"}}));
  runner.settings.txtOutput = dir / "out.xml";
  ASSERT_TRUE(runner.StartCommand().ok());
  const std::string xml = ReadFile(dir / "out.xml");
  EXPECT_TRUE(Contains(xml, "<game name=\"Good Pair\">"));
  EXPECT_TRUE(Contains(xml, "<rom name=\"a b.bin\" size=\"3\" crc=\"" + ToLowerHex(Crc32("one")) +
                                "\" />\r\n\t\t<rom name=\"c.bin\""));
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"Good Pair.zip"}));
}

// A preset of an earlier version (fifteen lines) reads with the zip check off; one saved now
// keeps it.
TEST_F(ZipRunTest, TheZipCheckIsKeptInPresets) {
  runner.settings.chkVerify = 1;
  ASSERT_TRUE(runner.SavePreset("mine").ok());
  runner.settings.chkVerify = 0;
  ASSERT_TRUE(runner.LoadPreset("mine").ok());
  EXPECT_EQ(runner.settings.chkVerify, 1);
  std::string old = ReadFile(dir / "home/presets/mine.pre");
  old.erase(old.rfind(" 1 \r\n"));
  WriteFile(dir / "home/presets/old.pre", old);
  ASSERT_TRUE(runner.LoadPreset("old").ok());
  EXPECT_EQ(runner.settings.chkVerify, 0);
  WriteFile(dir / "home/presets/odd.pre", old + "something else\r\n");
  ASSERT_TRUE(runner.LoadPreset("odd").ok());
  EXPECT_EQ(runner.settings.chkVerify, 0);
}

}  // namespace
}  // namespace quorvin
