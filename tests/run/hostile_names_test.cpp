// Whole runs over hostile names, collisions and broken files: nothing lost, nothing misnamed,
// every skip reported, and Revert gives back each file's name exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <utility>

#if !defined(_WIN32)
#include <sys/stat.h>
#endif

#include "dat/dat_format.h"
#include "platform/text.h"
#include "run/runner.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::Contains;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

class HostileNamesTest : public ::testing::Test, protected test::RunFolders {
 protected:
  HostileNamesTest() { UseNesMessAndArt(); }
  // A ROM whose CRC-32 is `crc`; `salt` makes files of one CRC differ in their bytes.
  void Rom(const std::string& name, uint32_t crc, const std::string& salt = "") {
    WriteFile(dir / ("roms/" + name), test::ForgeCrc(salt + name, crc));
  }
  void Roms(const std::vector<std::pair<std::string, uint32_t>>& roms) {
    for (const auto& [name, crc] : roms) Rom(name, crc);
  }
  void Db(const std::string& entries) {
    WriteFile(dir / "mess/crc/nes.crc", "[nes]\r\n" + entries);
  }
  Names Entries(const std::string& folder) const { return test::FolderEntries(dir / folder); }
  std::string Dat() const { return ReadFile(dir / "out.dat"); }
  std::string Cnv() const { return ReadFile(dir / "home/conversions/nes.cnv"); }
  bool Warned(const std::string& part) const {
    return std::any_of(rep.warnings.begin(), rep.warnings.end(),
                       [&](const std::string& w) { return Contains(w, part); });
  }
};

// Files take the good name in its own letter case and give back their exact earlier name; a
// target taken under another letter case is left alone.
TEST_F(HostileNamesTest, LetterCaseAndBlanksSurviveRenameAndRevert) {
  Db("11111111=Blaster Zone (E) [!]\r\n22222222=Lead Game\r\n33333333=Taken\r\n");
  Roms({{"Blaster.nes", 0x11111111}, {" lead.nes", 0x22222222}, {"a.nes", 0x33333333}});
  WriteFile(dir / "roms/TAKEN.NES", "not in the database");
  WriteFile(dir / "art/Blaster.png", "png");
  const Names before = Entries("roms");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"),
            (Names{"Blaster Zone (E) [!].nes", "Lead Game.nes", "TAKEN.NES", "a.nes"}));
  EXPECT_EQ(Entries("art"), Names{"Blaster Zone (E) [!].png"});
  EXPECT_TRUE(Contains(Dat(), "\tname \"Blaster Zone (E) [!]\"\r\n"));
  // TAKEN.NES is a ROM of the run that keeps its name: the table does not record "a" as the
  // earlier name of "Taken", which a revert would give to TAKEN.NES.
  EXPECT_EQ(rep.warnings, Names{"A ROM is already named \"TAKEN\", so \"a\" is not renamed to it"});
  EXPECT_FALSE(Contains(Cnv(), "=a\r\n"));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), before);
  EXPECT_EQ(ReadFile(dir / "roms/ lead.nes"), test::ForgeCrc(" lead.nes", 0x22222222));
  EXPECT_EQ(Entries("art"), Names{"Blaster.png"});
}

// The table maps names, not files: two ROMs of one name that are different games, and a
// copy of a game whose ROM already carries the good name, are renamed by none of its entries.
// Neither the run nor a later Revert gives any file another file's name.
TEST_F(HostileNamesTest, OneNameForTwoGamesRenamesNeither) {
  test::MakeDir(dir / "roms2");
  runner.settings.txtRom = dir / "roms" + ";" + dir / "roms2";
  Db("11111111=Island Escape\r\n22222222=Frog Leap\r\n33333333=Blaster\r\n");
  // abc..nes is a second copy of Blaster's game under another name.
  Roms({{"island.nes", 0x11111111}, {"Blaster.nes", 0x33333333}, {"abc..nes", 0x33333333}});
  WriteFile(dir / "roms2/island.nes", test::ForgeCrc("frog", 0x22222222));
  WriteFile(dir / "art/Blaster.png", "png");
  const Names roms = {"Blaster.nes", "abc..nes", "island.nes"};
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), roms);
  EXPECT_EQ(Entries("roms2"), Names{"island.nes"});
  EXPECT_TRUE(Warned("Several ROMs named \"island\" are different games"));
  EXPECT_TRUE(Warned("A ROM is already named \"Blaster\", so \"abc.\" is not renamed to it"));
  EXPECT_EQ(runner.warnings(), 2u);
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), roms);
  EXPECT_EQ(Entries("art"), Names{"Blaster.png"});
  EXPECT_EQ(runner.warnings(), 0u);
}

// Renamed, reverted, then a second copy of the game added under another name: the copy may
// take the good name, but the first ROM (refused this time) and its artwork are not renamed by
// the earlier run's entry, whose way back now leads to the copy; a revert brings every name back.
TEST_F(HostileNamesTest, EarlierEntryDoesNotRenameARomRefusedThisRun) {
  Db("33333333=Blaster Zone\r\n");
  Rom("Blaster.nes", 0x33333333);
  WriteFile(dir / "art/Blaster.png", "png");
  ASSERT_TRUE(runner.StartCommand().ok());
  ASSERT_TRUE(runner.RevertCommand().ok());
  Rom("a copy.nes", 0x33333333);  // listed before Blaster.nes
  const Names roms = Entries("roms");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("art"), Names{"Blaster.png"});
  EXPECT_EQ(Entries("roms"), (Names{"Blaster Zone.nes", "Blaster.nes"}));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), roms);
  EXPECT_EQ(Entries("art"), Names{"Blaster.png"});
  EXPECT_EQ(ReadFile(dir / "art/Blaster.png"), "png");
}

// Two runs over one folder with other settings in between (another database, ROM renaming
// on then off, another artwork folder), then one revert over every folder: each file has its
// first name again.
TEST_F(HostileNamesTest, TwoRunsWithOtherSettingsThenOneRevert) {
  Db("11111111=First Good\r\n22222222=Second Good\r\n");
  Roms({{"one.nes", 0x11111111}, {"two.nes", 0x22222222}, {"three.nes", 0x33333333}});
  test::MakeDir(dir / "art2");
  WriteFile(dir / "art/one.png", "a1");
  WriteFile(dir / "art/two.txt", "a2");
  WriteFile(dir / "art2/one.jpg", "b1");
  WriteFile(dir / "art2/three.jpg", "b3");
  const Names roms = Entries("roms"), art = Entries("art"), art2 = Entries("art2");
  const Names renamed = {"First Good.nes", "Second Good.nes", "three.nes"};
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), renamed);

  // Another database (a software list in another MESS folder), no ROM renaming, the other
  // artwork folder. Each entry of its file's size: a software list matches size and CRC.
  test::MakeDir(dir / "mess2/hash");
  auto software = [this](const char* crc, const char* desc, const std::string& rom) {
    return std::string("<software name=\"s\"><description>") + desc +
           "</description><part name=\"p\"><dataarea name=\"rom\"><rom name=\"r\" size=\"" +
           std::to_string(ReadFile(dir / ("roms/" + rom)).size()) + "\" crc=\"" + crc +
           "\"/></dataarea></part></software>";
  };
  WriteFile(dir / "mess2/hash/nes.xml",
            "<softwarelist name=\"nes\">" + software("11111111", "Listed One", "First Good.nes") +
                software("33333333", "Listed Three", "three.nes") + "</softwarelist>");
  runner.SetMessPath(dir / "mess2");
  runner.settings.cmbHName.text = "nes";
  runner.settings.chkCvtRoms = 0;
  runner.settings.txtRenamePaths = dir / "art2";
  ASSERT_TRUE(runner.StartCommand().ok()) << testing::PrintToString(rep.messages);
  EXPECT_EQ(Entries("roms"), renamed);
  EXPECT_EQ(Entries("art2"), (Names{"First Good.jpg", "Listed Three.jpg"}));

  runner.settings.txtRenamePaths = dir / "art;" + dir / "art2";
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), roms);
  EXPECT_EQ(Entries("art"), art);
  EXPECT_EQ(Entries("art2"), art2);
  EXPECT_EQ(ReadFile(dir / "art2/three.jpg"), "b3");
}

// A conversion file written all in upper case, as earlier versions wrote it, still reverts.
TEST_F(HostileNamesTest, UpperCaseConversionFileStillReverts) {
  WriteFile(dir / "home/conversions/nes.cnv",
            "[Conversion]\r\nBLASTER=BLASTER ZONE (E) [!]\r\n[Reversion]\r\n"
            "BLASTER ZONE (E) [!]=BLASTER\r\n");
  WriteFile(dir / "roms/BLASTER ZONE (E) [!].nes", "r");
  WriteFile(dir / "art/Blaster Zone (E) [!].png", "a");
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), Names{"BLASTER.nes"});
  EXPECT_EQ(Entries("art"), Names{"BLASTER.png"});
}

// Two ROMs whose names differ only in letter case share one entry of the table: neither is
// renamed, both are named in the report, the table does not mention them.
TEST_F(HostileNamesTest, NamesDifferingOnlyInCaseAreLeftAlone) {
#ifdef _WIN32
  GTEST_SKIP() << "a Windows folder cannot hold two names that differ only in letter case";
#endif
  Db("11111111=Frog One\r\n22222222=Frog Two\r\n33333333=Other Game\r\n");
  Roms({{"frog.nes", 0x11111111}, {"FROG.nes", 0x22222222}, {"other.nes", 0x33333333}});
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"FROG.nes", "Other Game.nes", "frog.nes"}));
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_TRUE(Warned("\"FROG\" and \"frog\"") || Warned("\"frog\" and \"FROG\""))
      << rep.warnings[0];
  EXPECT_FALSE(Contains(Cnv(), "Frog"));
  EXPECT_EQ(runner.warnings(), 1u);
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"FROG.nes", "frog.nes", "other.nes"}));
}

// A later run does not take an earlier run's way back: the second file asking for a good name
// a renamed file carries is left alone and reported, and Revert still restores the first.
TEST_F(HostileNamesTest, LaterRunKeepsTheEarlierRevertRecord) {
  Db("11111111=Frog Game\r\n");
  Rom("BB frog.nes", 0x11111111);
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), Names{"Frog Game.nes"});
  Rom("A frog.nes", 0x11111111, "other bytes");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"A frog.nes", "Frog Game.nes"}));
  EXPECT_TRUE(Warned("\"A frog\" is not renamed")) << testing::PrintToString(rep.warnings);
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"A frog.nes", "BB frog.nes"}));
  EXPECT_EQ(ReadFile(dir / "roms/BB frog.nes"), test::ForgeCrc("BB frog.nes", 0x11111111));
}

// A database value whose good name begins with a TAB and "[" once cleaned: the pair is
// recorded whole, the file renamed, and Revert brings it back. Names holding " crc " are
// renamed too: the CRC is read after the rom line's last " crc ", whatever the name holds.
TEST_F(HostileNamesTest, PairIsRecordedWholeOrNotAtAllAndNamesMayHoldCrc) {
  Db("1=?\t[x]\r\n11111111=First\r\n22222222=Second\r\n");
  Roms({{"rom1.nes", 1}, {"crc.nes", 0x11111111}, {"my crc game.nes", 0x22222222}});
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"First.nes", "Second.nes", "[x].nes"}));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"crc.nes", "my crc game.nes", "rom1.nes"}));
}

// Names a dat line cannot hold are left out and reported; a double quote stays in the dat,
// is not renamed and is reported; control characters of database values are dropped.
TEST_F(HostileNamesTest, NamesTheDatCannotHold) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows file names cannot hold a line break or a double quote";
#endif
  const char kNul[] = "33333333=Nul\0Th\rree\r\n";
  Db("11111111=One\r\n22222222=Two\r\n" + std::string(kNul, sizeof kNul - 1));
  Roms({{"line\nbreak.nes", 0x11111111}, {"quote\"d.nes", 0x22222222}, {"ok.nes", 0x33333333}});
  ASSERT_TRUE(runner.StartCommand().ok());
  const std::string dat = Dat();
  EXPECT_FALSE(Contains(dat, "line"));
  EXPECT_FALSE(Contains(dat, "\tname One"));
  EXPECT_TRUE(Contains(dat, "\tname NulThree\r\n"));
  EXPECT_TRUE(Contains(dat, "\trom ( name Two size "));  // the quoted name's game
  // Every line of every block is one of the program's own.
  for (const std::string& line : Split(dat, '\n')) {
    EXPECT_TRUE(line.empty() || line == "\r" || line.starts_with("\t") || line == "game (\r" ||
                line == ")\r" || line == "clrmamepro (\r")
        << line;
  }
  EXPECT_EQ(Entries("roms"), (Names{"NulThree.nes", "line\nbreak.nes", "quote\"d.nes"}));
  EXPECT_TRUE(Warned("Left " + dir / "roms/line\\nbreak.nes out of the dat"));
  EXPECT_TRUE(Warned("The ROM " + dir / "roms/quote\"d.nes holds a double quote"))
      << testing::PrintToString(rep.warnings);
  EXPECT_EQ(rep.warnings.size(), 2u) << testing::PrintToString(rep.warnings);
}

// r1.nes to r4.nes, of the CRCs 11111111 to 44444444.
const std::vector<std::pair<std::string, uint32_t>> kFourRoms = {
    {"r1.nes", 0x11111111}, {"r2.nes", 0x22222222}, {"r3.nes", 0x33333333}, {"r4.nes", 0x44444444}};

// Good names that would hide the file, take it out of its folder, or vanish.
TEST_F(HostileNamesTest, GoodNamesThatWouldHideEscapeOrVanish) {
  Db("11111111=../escape\r\n22222222=???\r\n33333333=.hidden\r\n44444444=Fine\r\n");
  Roms(kFourRoms);
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"Fine.nes", "r1.nes", "r2.nes", "r3.nes"}));
  EXPECT_TRUE(Contains(Dat(), "\tname r2\r\n\tdescription \"r2\"\r\n\trom ( name r2 size "));
  EXPECT_FALSE(Contains(Dat(), "\tname \r\n"));
  EXPECT_EQ(rep.warnings.size(), 3u) << testing::PrintToString(rep.warnings);
  EXPECT_TRUE(Warned("the good name \"???\", which is empty as a file name"));
  EXPECT_TRUE(Warned("The good name \"..escape\" of \"r1\" begins with \".\""));
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"r1.nes", "r2.nes", "r3.nes", "r4.nes"}));
}

#ifdef _WIN32
// Good names Windows would not keep as file names: a device name, characters it refuses,
// a trailing dot on a file without extension. The files keep their names, each reported.
TEST_F(HostileNamesTest, GoodNamesWindowsCannotHoldAreNotUsed) {
  Db("11111111=CON\r\n22222222=A <B>\r\n33333333=Ends With Dot.\r\n44444444=Fine\r\n");
  Roms(kFourRoms);
  WriteFile(dir / "art/r3", "artwork without extension");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"Fine.nes", "r1.nes", "r2.nes", "r3.nes"}));
  EXPECT_EQ(Entries("art"), Names{"r3"});
  for (const char* name : {"CON", "A <B>", "Ends With Dot."}) {
    EXPECT_TRUE(Warned("its new name \"" + std::string(name) + "\""))
        << name << " " << testing::PrintToString(rep.warnings);
  }
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"r1.nes", "r2.nes", "r3.nes", "r4.nes"}));
}
#endif

// No usable database for the system: said once, and the run goes on without good names.
TEST_F(HostileNamesTest, MissingOrUnreadableDatabaseIsAWarning) {
  Rom("rom1.nes", 0x11111111);
  const std::string expected =
      "no CRC database for nes at " + dir / "mess/crc/nes.crc" + ": no good names added";
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(rep.warnings, Names{expected});
  EXPECT_EQ(runner.warnings(), 1u);
  EXPECT_TRUE(Contains(Dat(), "\tname rom1\r\n"));
  test::MakeDir(dir / "mess/crc/nes.crc");  // a folder in its place
  std::remove((dir / "out.dat").c_str());
  rep.warnings.clear();
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(rep.warnings, Names{expected});
  EXPECT_TRUE(Contains(Dat(), "\tname rom1\r\n"));
  EXPECT_EQ(Entries("roms"), Names{"rom1.nes"});
}

#if !defined(_WIN32)
// One ROM the run cannot read costs that ROM, not the run: it is named in a warning, left out
// of the dat and of renaming (an earlier run's entry for it included, and its artwork), and
// every other ROM is in the dat and renamed; the run completes with warnings (exit status 3).
TEST_F(HostileNamesTest, UnreadableRomsAreLeftOutAndTheRunCompletes) {
  Db("11111111=First Game\r\n22222222=Pipe Game\r\n33333333=Gone Game\r\n");
  Roms({{"first.nes", 0x11111111}, {"pipe.nes", 0x22222222}, {"gone.nes", 0x33333333}});
  WriteFile(dir / "roms/\x01.nes", "x");
  WriteFile(dir / "art/pipe.png", "p");
  WriteFile(dir / "art/first.png", "f");
  // An earlier run's entries for both: they must not rename the files the dat left out.
  WriteFile(dir / "home/conversions/nes.cnv",
            "[Conversion]\r\npipe=Old Pipe\r\ngone=Old Gone\r\n[Reversion]\r\n"
            "Old Pipe=pipe\r\nOld Gone=gone\r\n");
  test::SwappingReporter swapping;
  Runner run(dir / "home", swapping);
  run.settings = runner.settings;
  swapping.swap = [&] {
    std::remove((dir / "roms/pipe.nes").c_str());
    ASSERT_EQ(::mkfifo((dir / "roms/pipe.nes").c_str(), 0600), 0);
    std::remove((dir / "roms/gone.nes").c_str());
  };
  ASSERT_TRUE(run.StartCommand().ok());
  EXPECT_EQ(run.warnings(), 3u) << testing::PrintToString(swapping.warnings);
  ASSERT_EQ(swapping.warnings.size(), 3u);
  const std::string tail = "; it was left out of the dat and of renaming";
  EXPECT_EQ(swapping.warnings[1], "The file " + dir / "roms/gone.nes" + " no longer exists" + tail);
  EXPECT_EQ(swapping.warnings[2], "Cannot read " + dir / "roms/pipe.nes" +
                                      ": it is a named pipe, not a regular file" + tail);
  const std::string dat = Dat();
  EXPECT_TRUE(Contains(dat, "\tname \"First Game\"\r\n"));
  EXPECT_FALSE(Contains(dat, "Pipe"));
  EXPECT_FALSE(Contains(dat, "Gone"));
  EXPECT_EQ(Entries("roms"), (Names{"\x01.nes", "First Game.nes", "pipe.nes"}));
  EXPECT_EQ(Entries("art"), (Names{"First Game.png", "pipe.png"}));
  EXPECT_EQ(swapping.statuses.back(), "Status:  Done");
  ASSERT_TRUE(run.RevertCommand().ok());
  EXPECT_EQ(Entries("roms"), (Names{"\x01.nes", "first.nes", "pipe.nes"}));
  EXPECT_EQ(Entries("art"), (Names{"first.png", "pipe.png"}));
}
#endif

// A conversion file that cannot be read is never written over: the dat is still made,
// recording and renaming are skipped with a warning, and Revert changes nothing.
TEST_F(HostileNamesTest, UnreadableConversionFile) {
  Db("11111111=Good\r\n");
  Rom("rom1.nes", 0x11111111);
  WriteFile(dir / "art/rom1.png", "a");
  const std::string cnv = dir / "home/conversions/nes.cnv";
  test::MakeDir(cnv);
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(Contains(Dat(), "\tname Good\r\n"));
  EXPECT_EQ(Entries("roms"), Names{"rom1.nes"});
  EXPECT_EQ(Entries("art"), Names{"rom1.png"});
  ASSERT_EQ(rep.warnings.size(), 1u);
  EXPECT_TRUE(Contains(rep.warnings[0], cnv)) << rep.warnings[0];
  EXPECT_TRUE(Contains(rep.warnings[0], "no rename was recorded and no file was renamed"));
  EXPECT_TRUE(test::FolderEntries(cnv).empty());

  WriteFile(dir / "roms/Good.nes", "g");
  rep.messages.clear();
  EXPECT_FALSE(runner.RevertCommand().ok());
  ASSERT_EQ(rep.messages.size(), 1u);
  EXPECT_TRUE(Contains(rep.messages[0], cnv));
  EXPECT_EQ(Entries("roms"), (Names{"Good.nes", "rom1.nes"}));
}

}  // namespace
}  // namespace quorvin
