#include "run/startup.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;

class StartupTest : public ::testing::Test {
 protected:
  StartupTest() {
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "roms");
    WriteFile(dir / "roms/Alpha.nes", "abc");
  }
  std::string List(const std::string& system = "nes") const {
    return "|" + dir / "roms" + "|nes|" + system + "|Nintendo NES||0||" + dir / "out.dat" +
           "||1|1|1|1|1";
  }
  test::TempDir dir;
  test::RecordingReporter rep;
};

TEST_F(StartupTest, SettingsListIsWrittenToLastUsedAndRun) {
  Runner r(dir / "home", rep);
  ASSERT_TRUE(RunCommandLine(r, List(), false).ok());
  EXPECT_TRUE(r.SilentMode);
  EXPECT_FALSE(r.NeedsSaved);
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"),
            "\r\n" + dir / "roms" + "\r\nnes\r\nnes\r\nNintendo NES\r\n\r\n0\r\n\r\n" +
                dir / "out.dat" + "\r\n\r\n1\r\n1\r\n1\r\n1\r\n1\r\n");
  EXPECT_NE(ReadFile(dir / "out.dat").find("\tname Alpha\r\n"), std::string::npos);
  EXPECT_EQ(rep.statuses.back(), "Status:  Done");
}

TEST_F(StartupTest, SaveIsTakenOutEverywhereAndSavesUnderTheSystemName) {
  Runner r(dir / "home", rep);
  ASSERT_TRUE(RunCommandLine(r, "-save " + List("snes-save"), false).ok());
  EXPECT_TRUE(r.NeedsSaved);
  EXPECT_EQ(r.settings.cmbHName.text, "snes");
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"),
            (std::vector<std::string>{"lastused.pre", "snes.pre"}));
  // The first field keeps no leading blank.
  EXPECT_EQ(ReadFile(dir / "home/presets/snes.pre").substr(0, 2), "\r\n");
}

TEST_F(StartupTest, NamedPresetRunsWithoutTouchingLastUsed) {
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, "-save " + List(), false).ok());
  }
  WriteFile(dir / "home/presets/lastused.pre", "sentinel");
  Runner r(dir / "home", rep);
  ASSERT_TRUE(RunCommandLine(r, "-preset nes -save", false).ok());
  EXPECT_FALSE(r.NeedsSaved);
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"), "sentinel");
}

TEST_F(StartupTest, BadCommandLinesSayWhatIsWrongAndDamageNothing) {
  WriteFile(dir / "home/presets/lastused.pre", "sentinel");
  WriteFile(dir / "home/presets/short.pre", "a\r\nb\r\n");
  struct Case {
    std::string line;
    std::string message;
  } cases[] = {
      {"|a|b", "Invalid Input: The settings list has 3 fields separated by \"|\"; 15 are needed"},
      {List() + "|extra", "Invalid Input: The settings list has 16 fields"},
      {"-preset missing", "Not Found: There is no preset named \"missing\""},
      {"-preset short",
       "Damaged File: The preset file " + dir / "home/presets/short.pre" + " has 2 lines"},
      {"|a|b|c|d|e|x|g|h|i|1|1|1|1|1",
       "Invalid Input: Line 7 of the settings list should be a check value"},
  };
  for (const Case& c : cases) {
    test::RecordingReporter r2;
    Runner r(dir / "home", r2);
    EXPECT_FALSE(RunCommandLine(r, c.line, false).ok()) << c.line;
    ASSERT_EQ(r2.messages.size(), 1u) << c.line;
    EXPECT_EQ(r2.messages[0].substr(0, c.message.size()), c.message);
  }
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"), "sentinel");
}

TEST_F(StartupTest, InteractiveStartLoadsLastUsedAndShutDownSavesIt) {
  {
    Runner r(dir / "home", rep);
    StartInteractive(r);
    EXPECT_EQ(r.settings.cmbHName.text, kSystemHint);
    r.settings.txtRom = "/edited";
    ASSERT_TRUE(ShutDown(r).ok());
  }
  Runner r(dir / "home", rep);
  StartInteractive(r);
  EXPECT_EQ(r.settings.txtRom, "/edited");
  EXPECT_EQ(r.presets, std::vector<std::string>{"lastused"});
}

// The headless program's contract: messages as "<title>: <text>" on stderr, exit status.
TEST_F(StartupTest, HeadlessProgramExitStatusAndMessages) {
  const std::string cli =
      std::string("QUORVIN_HOME=") + test::ShellQuote(dir / "home") + " " + QUORVIN_CLI;
  std::string out;
  EXPECT_EQ(test::RunCommand(cli, &out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  EXPECT_EQ(test::RunCommand(cli + " --version", &out), 0);
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote(List()), &out), 0);
  EXPECT_NE(out.find("Status:  Done\n"), std::string::npos);
  EXPECT_EQ(out.find("Parsing"), std::string::npos);  // per-file texts only on a terminal
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote("||nes|nes|||0||||1|1|1|1|1"), &out), 1);
  EXPECT_EQ(out, "Data Missing: Rom Paths is a required Field, Fill it out Please\n");
  EXPECT_EQ(
      test::RunCommand(
          cli + " " + test::ShellQuote("|" + dir / "roms" + "|zip|nes|||0||||1|1|1|1|1"), &out),
      1);
  EXPECT_NE(out.find("Sorry Not Supported Yet: Zipped roms are not supported yet"),
            std::string::npos);
}

}  // namespace
}  // namespace quorvin
