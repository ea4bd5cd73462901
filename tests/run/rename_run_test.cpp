// Whole runs with the MESS stage and renaming, and the Revert command.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "dat/dat_format.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "run/runner.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::FolderEntries;
using test::ReadFile;
using test::WriteFile;
using Names = std::vector<std::string>;

class RenameRunTest : public ::testing::Test, protected test::RunFolders {
 protected:
  RenameRunTest() { UseNesMessAndArt(); }
};

TEST_F(RenameRunTest, ConversionFileAsTheProgramWritesIt) {
  WriteFile(dir / "mess/crc/nes.crc",
            "[nes]\r\n11111111=First Game (E) [!]|1990\r\n22222222=Second Game (U) [T+Fre]\r\n");
  WriteFile(dir / "roms/rom001.nes", test::ForgeCrc("one", 0x11111111));
  WriteFile(dir / "roms/rom2.nes", test::ForgeCrc("two", 0x22222222));
  WriteFile(dir / "art/rom001.png", "png");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_FALSE(runner.Skipmess);
  EXPECT_EQ(runner.CrcDatabasePath, dir / "mess/crc/nes.crc");
  EXPECT_EQ(ReadFile(dir / "home/conversions/nes.cnv"),
            "[Conversion]\r\nrom001=First Game (E) [!]\r\nrom2=Second Game (U) [T+Fre]\r\n"
            "[Reversion]\r\nFirst Game (E) [!]=rom001\r\nSecond Game (U) [T+Fre]=rom2\r\n");
  EXPECT_EQ(FolderEntries(dir / "roms"),
            (Names{"First Game (E) [!].nes", "Second Game (U) [T+Fre].nes"}));
  EXPECT_EQ(FolderEntries(dir / "art"), Names{"First Game (E) [!].png"});
  EXPECT_NE(ReadFile(dir / "out.dat")
                .find("\tname \"First Game (E) [!]\"\r\n\tdescription \"First Game (E) "
                      "[!]\"\r\n\tyear 1990\r\n"),
            std::string::npos);

  // A second run over the renamed files records nothing that hides the first names.
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(ReadFile(dir / "home/conversions/nes.cnv").find("First Game (E) [!]=First"),
            std::string::npos);
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(rep.statuses.back(), "Status:  Reversion Complete");
  EXPECT_EQ(FolderEntries(dir / "roms"), (Names{"rom001.nes", "rom2.nes"}));
  EXPECT_EQ(ReadFile(dir / "roms/rom2.nes"), test::ForgeCrc("two", 0x22222222));
  EXPECT_EQ(FolderEntries(dir / "art"), Names{"rom001.png"});
}

TEST_F(RenameRunTest, RealDatabaseGivesEveryFileItsGoodNameAndRevertRestoresAll) {
  if (test::TestDataDir().empty()) GTEST_SKIP() << "shared test data not found";
  runner.settings.txtMessPath = test::TestDataDir() + "/mess/";
  auto section = ProfileSection::Read(test::TestDataDir() + "/mess/crc/nes.crc", "nes");
  ASSERT_TRUE(section.ok());
  const auto* entries = &section->entries();
  std::vector<std::string> originals;
  size_t i = 0;
  for (const auto& [key, value] : *entries) {
    char name[32];
    std::snprintf(name, sizeof name, "rom%05zu.nes", i++);
    WriteFile(dir / ("roms/" + std::string(name)),
              test::ForgeCrc(name, static_cast<uint32_t>(std::stoul(key, nullptr, 16))));
    originals.push_back(name);
  }
  runner.settings.txtRenamePaths.clear();
  ASSERT_TRUE(runner.StartCommand().ok());
  // Every game of the dat carries a good name: no old name is left in a name line.
  std::string dat = ReadFile(dir / "out.dat");
  EXPECT_EQ(dat.find("\tname rom"), std::string::npos);
  size_t games = 0;
  for (size_t at = dat.find("\ngame (\r\n"); at != std::string::npos;
       at = dat.find("\ngame (\r\n", at + 1))
    ++games;
  EXPECT_EQ(games, entries->size());
  // Files not renamed are exactly those whose good name another file took (each reported).
  Names after = FolderEntries(dir / "roms");
  size_t kept = 0;
  for (const std::string& n : after) kept += n.rfind("rom", 0) == 0;
  EXPECT_EQ(kept, rep.warnings.size());
  EXPECT_EQ(after.size(), originals.size());

  ASSERT_TRUE(runner.RevertCommand().ok());
  Names reverted = FolderEntries(dir / "roms");
  for (std::string& n : originals) {
    // Reverted names come back in upper case; the few never renamed keep theirs.
    std::string upper = ToUpperAscii(n.substr(0, n.size() - 4)) + ".nes";
    EXPECT_TRUE(std::binary_search(reverted.begin(), reverted.end(), upper) ||
                std::find(reverted.begin(), reverted.end(), n) != reverted.end())
        << n;
  }
}

TEST_F(RenameRunTest, UnsavedConversionFileStopsBeforeRenaming) {
  WriteFile(dir / "mess/crc/nes.crc", "[nes]\r\n11111111=First Game\r\n");
  WriteFile(dir / "roms/rom001.nes", test::ForgeCrc("one", 0x11111111));
  WriteFile(dir / "home/conversions/nes.cnv", "");
  test::MakeReadOnly(dir / "home/conversions/nes.cnv");
  EXPECT_FALSE(runner.StartCommand().ok());
  EXPECT_EQ(
      rep.messages,
      Names{"File Error: The file " + dir / "home/conversions/nes.cnv" +
            " is read-only; the renames of this run were not recorded, so no file was renamed"});
  EXPECT_EQ(FolderEntries(dir / "roms"), Names{"rom001.nes"});
}

TEST_F(RenameRunTest, NoSystemNameMeansNoRenaming) {
  WriteFile(dir / "roms/rom001.nes", "x");
  runner.settings.cmbHName.text = "";
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_NE(std::find(rep.statuses.begin(), rep.statuses.end(),
                      "Status:  No System Name, Renaming Skipped"),
            rep.statuses.end());
  EXPECT_EQ(FolderEntries(dir / "home/conversions"), Names{});
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(rep.statuses.back(), "Status:  No System Name, Nothing Reverted");
}

TEST_F(RenameRunTest, RevertCompletesTheExtensionAndSkipsRomsWithoutOne) {
  WriteFile(dir / "home/conversions/nes.cnv", "[Reversion]\r\nGOOD=OLD\r\n");
  WriteFile(dir / "roms/GOOD.nes", "r");
  WriteFile(dir / "art/GOOD.png", "a");
  runner.settings.txtMessPath.clear();  // only the system name matters
  runner.settings.txtExtension = "";
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(rep.warnings, Names{"No ROM extension is set, so the ROM files were not reverted"});
  EXPECT_EQ(FolderEntries(dir / "roms"), Names{"GOOD.nes"});
  EXPECT_EQ(FolderEntries(dir / "art"), Names{"OLD.png"});
  runner.settings.txtExtension = "nes";
  ASSERT_TRUE(runner.RevertCommand().ok());
  EXPECT_EQ(runner.settings.txtExtension, "nes");  // not written back
  EXPECT_EQ(FolderEntries(dir / "roms"), Names{"OLD.nes"});
  EXPECT_EQ(runner.CrcDatabasePath, test::OsPath("crc/nes.crc"));
}

TEST_F(RenameRunTest, HeadlessRevert) {
  WriteFile(dir / "home/conversions/nes.cnv", "[Reversion]\r\nGOOD=OLD\r\n");
  WriteFile(dir / "roms/GOOD.nes", "r");
  const std::string list = "|" + dir / "roms" + "|nes|nes|||0||||1|1|1|1|1";
  std::string out;
  EXPECT_EQ(test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "home") + QUORVIN_CLI +
                                 " --revert " + test::ShellQuote(list),
                             &out),
            0);
  EXPECT_EQ(out, "Status:  Reversion Complete\n");
  EXPECT_EQ(FolderEntries(dir / "roms"), Names{"OLD.nes"});
}

// The user's Stop: asked after some files, the run ends at a file boundary with Stopped, every
// file it renamed is recorded, and Revert gives every name back.
class StopAfter : public test::RecordingReporter {
 public:
  explicit StopAfter(size_t n) : left(n) {}
  bool StopRequested() override { return left == 0 ? true : (--left, false); }
  size_t left;
};

TEST(StopTest, StopsAtAFileBoundaryAndStaysRevertable) {
  for (size_t stop_after : {0u, 3u, 6u, 9u, 13u, 1000u}) {
    test::TempDir dir;
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "roms");
    test::MakeDir(dir / "mess/crc");
    std::string db = "[nes]\r\n";
    Names before;
    for (uint32_t i = 0; i < 6; ++i) {
      const uint32_t crc = 0x10000000u + i;
      db += CrcText(crc) + "=Game " + std::to_string(i) + "\r\n";
      std::string name = "ROM" + std::to_string(i) + ".nes";
      WriteFile(dir / ("roms/" + name), test::ForgeCrc("x" + std::to_string(i), crc));
      before.push_back(name);
    }
    WriteFile(dir / "mess/crc/nes.crc", db);
    StopAfter rep(stop_after);
    Runner runner(dir / "home", rep);
    RunSettings& s = runner.settings;
    s.txtMessPath = dir / "mess";
    s.txtRom = dir / "roms";
    s.txtExtension = ".nes";
    s.cmbHName.text = "nes";
    s.txtOutput = dir / "out.dat";
    s.chkCvtRoms = 1;
    Status st = runner.StartCommand();
    SCOPED_TRACE(stop_after);
    if (stop_after < 6) {
      EXPECT_EQ(st.kind(), ErrorKind::kStopped);
      EXPECT_FALSE(test::Exists(dir / "out.dat"));
    } else if (stop_after < 14) {
      // Six checks at the scan's file boundaries, then one before and six in renaming. The
      // scan also asks while it waits for a slow read (under Wine, say), so a stop counted
      // here may still come in the scan: the run is stopped either way.
      EXPECT_EQ(st.kind(), ErrorKind::kStopped);
    } else {
      EXPECT_TRUE(st.ok()) << st.ToString();
    }
    EXPECT_EQ(FolderEntries(dir / "roms").size(), 6u);
    test::RecordingReporter quiet;
    Runner reverter(dir / "home", quiet);
    reverter.settings = s;
    ASSERT_TRUE(reverter.RevertCommand().ok());
    EXPECT_EQ(FolderEntries(dir / "roms"), before);
  }
}

}  // namespace
}  // namespace quorvin
