#include "run/runner.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/process.h"
#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;

class RunnerTest : public ::testing::Test {
 protected:
  RunnerTest() : runner(dir / "home", rep) {
    test::MakeProgramFolder(dir / "home");
    test::MakeDir(dir / "roms");
    WriteFile(dir / "roms/Alpha.nes", "abc");
    WriteFile(dir / "roms/Beta Game.nes", "ae");
  }
  void Fill() {
    runner.settings.txtRom = dir / "roms";
    runner.settings.txtExtension = "nes";
    runner.settings.cmbHName.text = "nes";
  }
  test::TempDir dir;
  test::RecordingReporter rep;
  Runner runner;
};

TEST_F(RunnerTest, ChecksRequiredFieldsInOrderAndKeepsWhatEarlierChecksWrote) {
  Status s = runner.StartCommand();
  EXPECT_EQ(s.kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(rep.messages, std::vector<std::string>{
                              "Data Missing: Rom Paths is a required Field, Fill it out Please"});
  EXPECT_EQ(runner.settings.txtOutput, "");

  runner.settings.txtRom = dir / "roms";
  rep.messages.clear();
  (void)runner.StartCommand();
  EXPECT_EQ(rep.messages,
            std::vector<std::string>{
                "Data Missing: The Extension is a required Field, Fill it out Please"});

  runner.settings.txtExtension = "nes";
  rep.messages.clear();
  (void)runner.StartCommand();  // the box still shows its hint
  EXPECT_EQ(rep.messages,
            std::vector<std::string>{
                "Data Missing: The Header Name is a required Field, Fill it out Please"});
  EXPECT_EQ(runner.settings.txtExtension, ".nes");
  EXPECT_EQ(runner.settings.txtOutput, dir / "home/default.dat");
  EXPECT_TRUE(rep.statuses.empty());
  EXPECT_FALSE(test::FolderEntries(dir / "home").size() > 2);

  runner.settings.cmbHName.list = {std::string(kSystemHint)};
  runner.settings.cmbHName.text = "typed";
  runner.settings.cmbHName.selected = 0;
  rep.messages.clear();
  (void)runner.StartCommand();
  EXPECT_EQ(rep.messages.size(), 1u);
}

TEST_F(RunnerTest, SkippedMessStageCopiesTheTemporaryDatAndCompletesDefaults) {
  Fill();
  runner.settings.txtMessPath = dir / "no-such-mess";
  ASSERT_TRUE(runner.StartCommand().ok());
  EXPECT_EQ(runner.settings.txtDesc, "nes");
  EXPECT_EQ(runner.settings.txtAuthor, "Auto Generated With Quorvin Utility");
  EXPECT_TRUE(runner.Skipmess);
  // The folder was given, so its absence is worth a warning (exit status 3).
  EXPECT_EQ(rep.warnings,
            std::vector<std::string>{"The MESS folder " + dir / "no-such-mess" +
                                     " is not an existing folder: no good names added"});
  EXPECT_EQ(runner.warnings(), 1u);
  EXPECT_EQ(rep.statuses,
            (std::vector<std::string>{
                "Status:  Allocating Temporary Dat", "Status:  Inital Dat Creation Complete",
                "Status:  Mess Mode Skipped, Finalizing Dat", "Status:  Done"}));
  std::string dat = ReadFile(dir / "home/default.dat");
  EXPECT_EQ(dat, ReadFile(dir / "home/tempdat.dat"));
  EXPECT_NE(dat.find("\tDescription \"nes\"\r\n"), std::string::npos);
  EXPECT_NE(dat.find("crc E7DDCE )"), std::string::npos);
}

TEST_F(RunnerTest, UnusableOutputStopsBeforeTheScanAndNamesThePath) {
  Fill();
  WriteFile(dir / "out.dat", "old dat");
  test::MakeReadOnly(dir / "out.dat");
  struct Case {
    std::string output;
    std::string message;
  } cases[] = {
      {dir / "missing/out.dat", "Not Found: The folder " + dir / "missing" + " does not exist"},
      {dir / "roms", "Invalid Input: " + dir / "roms" + " is a folder, not a file"},
      {dir / "out.dat", "File Error: The file " + dir / "out.dat" + " is read-only"},
  };
  for (const Case& c : cases) {
    rep.messages.clear();
    rep.statuses.clear();
    runner.settings.txtOutput = c.output;
    EXPECT_FALSE(runner.StartCommand().ok());
    EXPECT_EQ(rep.messages, std::vector<std::string>{c.message});
    EXPECT_TRUE(rep.statuses.empty());
  }
  EXPECT_EQ(ReadFile(dir / "out.dat"), "old dat");
}

TEST_F(RunnerTest, MissingRomFolderStopsTheRunAndLeavesTheOutput) {
  Fill();
  runner.settings.txtRom = dir / "roms;" + dir / "typo";
  runner.settings.txtOutput = dir / "out.dat";
  WriteFile(dir / "out.dat", "old dat");
  EXPECT_EQ(runner.StartCommand().kind(), ErrorKind::kNotFound);
  EXPECT_EQ(rep.messages, std::vector<std::string>{"Not Found: The ROM folder " + dir / "typo" +
                                                   " does not exist"});
  EXPECT_EQ(ReadFile(dir / "out.dat"), "old dat");
  EXPECT_EQ(rep.statuses.back(), "Status:  Allocating Temporary Dat");
}

TEST_F(RunnerTest, PresetsSaveLoadAndRefillTheSystemList) {
  Fill();
  test::MakeDir(dir / "mess/crc");
  WriteFile(dir / "mess/crc/nes.crc", "");
  WriteFile(dir / "mess/crc/a2600.crc", "");
  runner.settings.txtMessPath = dir / "mess";
  ASSERT_TRUE(runner.SaveSettingsAsPreset().ok());
  EXPECT_EQ(runner.presets, std::vector<std::string>{"nes"});
  Runner other(dir / "home", rep);
  ASSERT_TRUE(other.LoadPreset("nes").ok());
  EXPECT_EQ(other.settings.txtRom, dir / "roms");
  EXPECT_EQ(other.settings.cmbHName.list, (std::vector<std::string>{"a2600", "nes"}));
  ASSERT_TRUE(other.LoadPreset("nes").ok());  // no system listed twice
  EXPECT_EQ(other.settings.cmbHName.list.size(), 2u);
  EXPECT_EQ(other.LoadPreset("nope").kind(), ErrorKind::kNotFound);

  runner.settings.cmbHName.text = "a/b";
  rep.messages.clear();
  EXPECT_EQ(runner.SaveSettingsAsPreset().kind(), ErrorKind::kInvalidInput);
  EXPECT_EQ(rep.messages.size(), 1u);
}

// Another run holds the program folder: this one waits (and says so), a Stop while it waits
// changes nothing, and once the other run is over it goes ahead.
class StopAfterPolls : public test::RecordingReporter {
 public:
  bool StopRequested() override { return ++polls > 3; }
  int polls = 0;
};

TEST(RunLockTest, ARunWaitsForAnotherRunInTheProgramFolder) {
  test::TempDir dir;
  test::MakeProgramFolder(dir / "home");
  test::MakeDir(dir / "roms");
  WriteFile(dir / "roms/a.nes", "abc");
  auto other = std::make_unique<ProcessLock>();
  bool usable = false;
  ASSERT_TRUE(other->TryTake(dir / "home/run.lock", &usable));
  StopAfterPolls rep;
  Runner runner(dir / "home", rep);
  runner.settings.txtRom = dir / "roms";
  runner.settings.txtExtension = "nes";
  runner.settings.cmbHName.text = "nes";
  EXPECT_EQ(runner.StartCommand().kind(), ErrorKind::kStopped);
  EXPECT_EQ(rep.statuses, (std::vector<std::string>{"Status:  Waiting For Another Run To Finish",
                                                    "Status:  Stopped"}));
  EXPECT_FALSE(test::Exists(dir / "home/default.dat"));
  EXPECT_FALSE(test::Exists(dir / "home/tempdat.dat"));

  rep.polls = -1000;
  rep.statuses.clear();
  std::thread release([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    other.reset();
  });
  EXPECT_TRUE(runner.StartCommand().ok());
  release.join();
  EXPECT_EQ(rep.statuses.front(), "Status:  Waiting For Another Run To Finish");
  EXPECT_EQ(rep.statuses.back(), "Status:  Done");
  EXPECT_TRUE(test::Contains(ReadFile(dir / "home/default.dat"), "name a"));
}

}  // namespace
}  // namespace quorvin
