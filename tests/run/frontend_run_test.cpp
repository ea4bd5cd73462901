// Runs over the bundled example collection and front-end folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "run/runner.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;

std::map<std::string, std::string> Snapshot(const std::string& root) {
  std::map<std::string, std::string> files;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[e.path().string()] = ReadFile(e.path().string());
  }
  return files;
}

TEST(FrontendRunTest, ExampleFolderFirstRunThenASecondRunChangesNothing) {
  test::TempDir dir;
  std::filesystem::copy(QUORVIN_EXAMPLES, dir.path(), std::filesystem::copy_options::recursive);
  test::MakeProgramFolder(dir / "home");
  test::RecordingReporter rep;
  Runner runner(dir / "home", rep);
  RunSettings& s = runner.settings;
  s.txtMessPath = dir / "mess/";
  s.txtRom = dir / "roms/nes";
  s.txtExtension = "nes";
  s.cmbHName.text = "nes";
  s.txtDesc = "Nintendo NES";
  s.txtRenamePaths = dir / "artwork/nes";
  s.txtOutput = dir / "nes.dat";
  s.txtDkPath = dir / "dk";
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_TRUE(rep.messages.empty());
  EXPECT_EQ(s.txtDkPath, dir / "dk/");

  EXPECT_EQ(ReadFile(dir / "dk/cfgs/nes.cfg"),
            "[Config]\r\nexe=mess.exe\r\nparams=-rp "
            "%ROMPATH%\r\nextension=.nes\r\n[Display]\r\nfullscreen=1\r\n");
  const std::string rom_upper = test::ToUpper(dir / "roms/nes");
  const std::string art_upper = test::ToUpper(dir / "artwork/nes");
  EXPECT_EQ(ReadFile(dir / "dk/dirs.ini"),
            "[Dirs]\r\nroms=C:\\OLD\\ROMS;" + rom_upper + "\r\nAdditional AW Dirs=;" + art_upper +
                "\r\n\r\n[Path]\r\nlogo=Arcade.png\r\ncaption=Arcade\r\nuseclones="
                "1\r\nsearchstrings:5=arcade\r\n"
                "filters:\r\n[/path]\r\n"
                "[Path]\r\nlogo=Nintendo NES.png\r\ncaption=Nintendo "
                "NES\r\nuseclones=1\r\nsearchstrings:5=nes\r\n"
                "filters:\r\n[/path]\r\n[/startvd]\r\n[After]\r\nkeep=this line\r\n");
  EXPECT_EQ(ReadFile(dir / "dk/list generator/dats/nes.dat"), ReadFile(dir / "nes.dat"));
  EXPECT_EQ(
      std::vector<std::string>(rep.statuses.end() - 4, rep.statuses.end()),
      (std::vector<std::string>{"Status:  Making Dk Cfg Entry", "Status:  Adding Dk Vdir Entry",
                                "Status:  Copying Dat to Dk List Generator", "Status:  Done"}));

  const auto first = Snapshot(dir / "dk");
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(Snapshot(dir / "dk"), first);
}

}  // namespace
}  // namespace quorvin
