#include "rename/renamer.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

using test::FolderEntries;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

class RenamerTest : public ::testing::Test {
 protected:
  RenamerTest() {
    test::MakeDir(dir / "roms");
    test::MakeDir(dir / "art");
    table = *ConversionTable::Load(dir / "nes.cnv");
  }
  void Record(const std::string& old_name, const std::string& good) {
    ASSERT_TRUE(table.RecordConversion(old_name, good).ok());
  }
  test::TempDir dir;
  test::RecordingReporter rep;
  ConversionTable table;
};

TEST_F(RenamerTest, RenameThenRevertRestoresEveryFileWithItsBytes) {
  Record("rom001", "\"First Game (E) [!]\"");
  Record("Tetris", "\"Tetris (W) [!]\"");
  WriteFile(dir / "roms/rom001.NES", "one");
  WriteFile(dir / "roms/other.nes", "two");
  WriteFile(dir / "roms/Tetris.gb", "gb");
  for (const char* n :
       {"rom001.txt", "rom001.PNG", "rom001.jpeg", "rom001", "Tetris.txt", "x.png"}) {
    WriteFile(dir / ("art/" + std::string(n)), n);
  }
  RenameCounts c = RenameRoms(dir / "roms", ".nes", table, RenameMode::kRename, rep);
  EXPECT_EQ(c.renamed, 1u);
  RenameRoms(dir / "roms/", ".gb", table, RenameMode::kRename, rep);
  RenameArtwork(dir / "art", table, RenameMode::kRename, rep);
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"First Game (E) [!].NES", "Tetris (W) [!].gb", "other.nes"}));
  EXPECT_EQ(FolderEntries(dir / "art"),
            (Names{"First Game (E) [!]", "First Game (E) [!].PNG", "First Game (E) [!].jpeg",
                   "First Game (E) [!].txt", "Tetris (W) [!].txt", "x.png"}));
  EXPECT_EQ(ReadFile(dir / "art/First Game (E) [!].PNG"), "rom001.PNG");
  EXPECT_EQ(rep.file_statuses[0], "Status:  Renaming rom001.NES to First Game (E) [!]");

  rep.file_statuses.clear();
  RenameRoms(dir / "roms", ".nes", table, RenameMode::kRevert, rep);
  RenameRoms(dir / "roms", ".gb", table, RenameMode::kRevert, rep);
  RenameArtwork(dir / "art", table, RenameMode::kRevert, rep);
  EXPECT_EQ(rep.file_statuses[0], "Status:  Reverting First Game (E) [!].NES to rom001");
  EXPECT_EQ(rep.file_statuses.back(), "Status:  Renaming Tetris (W) [!].txt to Tetris");
  // Each file keeps its extension as it stands, so the revert gives back the exact name.
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"Tetris.gb", "other.nes", "rom001.NES"}));
  EXPECT_EQ(ReadFile(dir / "roms/rom001.NES"), "one");
  EXPECT_EQ(ReadFile(dir / "roms/Tetris.gb"), "gb");
  EXPECT_EQ(FolderEntries(dir / "art"),
            (Names{"Tetris.txt", "rom001", "rom001.PNG", "rom001.jpeg", "rom001.txt", "x.png"}));
  EXPECT_TRUE(rep.warnings.empty());
}

TEST_F(RenamerTest, NeverOverwritesAndNeverLeavesTheFolder) {
  // Entries the table itself would refuse, as a hand-edited file may hold them.
  WriteFile(dir / "hand.cnv",
            "[Conversion]\r\na=TAKEN\r\nb=../escape\r\nc=sub/dir\r\n"
            "[Reversion]\r\nTAKEN=a\r\n../escape=b\r\nsub/dir=c\r\n");
  ConversionTable hand = *ConversionTable::Load(dir / "hand.cnv");
  WriteFile(dir / "roms/a.nes", "a");
  WriteFile(dir / "roms/TAKEN.nes", "precious");
  WriteFile(dir / "roms/b.nes", "b");
  WriteFile(dir / "roms/c.nes", "c");
  RenameCounts c = RenameRoms(dir / "roms;" + dir / "gone", ".nes", hand, RenameMode::kRename, rep);
  EXPECT_EQ(c.renamed, 0u);
  EXPECT_EQ(c.skipped, 3u);
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"TAKEN.nes", "a.nes", "b.nes", "c.nes"}));
  EXPECT_EQ(ReadFile(dir / "roms/TAKEN.nes"), "precious");
  ASSERT_EQ(rep.warnings.size(), 4u);
  EXPECT_EQ(rep.warnings[0], "Left " + dir / "roms/a.nes" + " alone: Cannot rename " +
                                 dir / "roms/a.nes" + ": " + dir / "roms/TAKEN.nes" +
                                 " already exists");
  EXPECT_EQ(rep.warnings[1], "Left " + dir / "roms/b.nes" +
                                 " alone: its new name \"../escape\" from " + dir / "hand.cnv" +
                                 " cannot be a file name in that folder");
  EXPECT_EQ(rep.warnings[3],
            "The folder " + dir / "gone" + " does not exist; nothing was renamed there");
}

TEST_F(RenamerTest, CaseOnlyChangeAndFilesAlreadyNamed) {
  Record("ok", "OK2");
  WriteFile(dir / "roms/OK2.nes", "x");  // already carries the recorded name
  WriteFile(dir / "roms/done.nes", "y");
  RenameCounts c = RenameRoms(dir / "roms", ".nes", table, RenameMode::kRename, rep);
  EXPECT_EQ(c.renamed + c.skipped, 0u);
  EXPECT_TRUE(rep.file_statuses.empty());
}

// A rename is made only where the table's way back leads to the file's name again: an
// entry whose "Reversion" half was later given to another file, or is missing, renames
// nothing (a revert could not bring the file back).
TEST_F(RenamerTest, EntryWithoutItsWayBackRenamesNothing) {
  WriteFile(dir / "stale.cnv",
            "[Conversion]\r\nBlaster=Blaster Zone\r\nabc.=Blaster Zone\r\nlone=Lone Game\r\n"
            "[Reversion]\r\nBlaster Zone=abc.\r\n");
  ConversionTable stale = *ConversionTable::Load(dir / "stale.cnv");
  WriteFile(dir / "art/Blaster.png", "blaster art");
  WriteFile(dir / "art/lone.png", "lone art");
  WriteFile(dir / "art/ABC..png", "abc art");
  RenameCounts c = RenameArtwork(dir / "art", stale, RenameMode::kRename, rep);
  EXPECT_EQ(c.renamed, 1u);
  EXPECT_EQ(c.skipped, 2u);
  EXPECT_EQ(FolderEntries(dir / "art"), (Names{"Blaster Zone.png", "Blaster.png", "lone.png"}));
  EXPECT_EQ(ReadFile(dir / "art/Blaster Zone.png"), "abc art");
  ASSERT_EQ(rep.warnings.size(), 2u);
  EXPECT_EQ(rep.warnings[0], "Left " + dir / "art/Blaster.png" + " alone: its entry in " +
                                 dir / "stale.cnv" +
                                 " (\"Blaster Zone\") has no way back to its name there");
}

// The extension of the settings matches files without regard to letter case; a file keeps its
// own, so that a revert gives back exactly the name it had.
TEST_F(RenamerTest, FilesKeepTheirOwnExtension) {
  Record("a", "Alpha Game");
  Record("b", "Beta Game");
  WriteFile(dir / "roms/a.nes", "a");
  WriteFile(dir / "roms/b.Nes", "b");
  const Names before = FolderEntries(dir / "roms");
  RenameRoms(dir / "roms", ".NES", table, RenameMode::kRename, rep);
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"Alpha Game.nes", "Beta Game.Nes"}));
  RenameRoms(dir / "roms", ".NES", table, RenameMode::kRevert, rep);
  EXPECT_EQ(FolderEntries(dir / "roms"), before);
  EXPECT_TRUE(rep.warnings.empty());
}

TEST_F(RenamerTest, RomFolderThatIsAlsoAnArtworkFolder) {
  Record("rom1", "GOOD");
  WriteFile(dir / "roms/rom1.nes", "r");
  WriteFile(dir / "roms/rom1.png", "p");
  RenameRoms(dir / "roms", ".nes", table, RenameMode::kRename, rep);
  RenameArtwork(dir / "roms", table, RenameMode::kRename, rep);
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"GOOD.nes", "GOOD.png"}));
  RenameArtwork(dir / "roms", table, RenameMode::kRevert, rep);
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"rom1.nes", "rom1.png"}));
}

}  // namespace
}  // namespace quorvin
