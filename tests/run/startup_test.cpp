#include "run/startup.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

using test::ReadFile;
using test::WriteFile;
using Args = std::vector<std::string>;

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
  ASSERT_TRUE(RunCommandLine(r, Args{List()}, false).ok());
  EXPECT_TRUE(r.SilentMode);
  EXPECT_FALSE(r.NeedsSaved);
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"),
            "\r\n" + dir / "roms" + "\r\nnes\r\nnes\r\nNintendo NES\r\n\r\n0\r\n\r\n" +
                dir / "out.dat" + "\r\n\r\n1\r\n1\r\n1\r\n1\r\n1\r\n");
  EXPECT_NE(ReadFile(dir / "out.dat").find("\tname Alpha\r\n"), std::string::npos);
  EXPECT_EQ(rep.statuses.back(), "Status:  Done");
}

TEST_F(StartupTest, SaveWordBeforeTheListSavesUnderTheSystemName) {
  Runner r(dir / "home", rep);
  ASSERT_TRUE(RunCommandLine(r, Args{"-save " + List("snes-save")}, false).ok());
  EXPECT_TRUE(r.NeedsSaved);
  EXPECT_EQ(r.settings.cmbHName.text, "snes-save");
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"),
            (std::vector<std::string>{"lastused.pre", "snes-save.pre"}));
  // The first field keeps no leading blank.
  EXPECT_EQ(ReadFile(dir / "home/presets/snes-save.pre").substr(0, 2), "\r\n");
}

TEST_F(StartupTest, NamedPresetRunsWithoutTouchingLastUsed) {
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, Args{"-save " + List()}, false).ok());
  }
  WriteFile(dir / "home/presets/lastused.pre", "sentinel");
  Runner r(dir / "home", rep);
  ASSERT_TRUE(RunCommandLine(r, Args{"-preset nes -save"}, false).ok());
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
       "Invalid Input: Field 7 (convert ROMs) of the settings list should be a check value"},
  };
  for (const Case& c : cases) {
    test::RecordingReporter r2;
    Runner r(dir / "home", r2);
    EXPECT_FALSE(RunCommandLine(r, Args{c.line}, false).ok()) << c.line;
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
      test::WithEnvironment("QUORVIN_HOME", dir / "home") + test::ShellQuote(QUORVIN_CLI);
  std::string out;
  EXPECT_EQ(test::RunCommand(cli, &out), 2);
  EXPECT_NE(out.find("usage:"), std::string::npos);
  EXPECT_EQ(test::RunCommand(cli + " --version", &out), 0);
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote(List()), &out), 0);
  EXPECT_NE(out.find("Status:  Done\n"), std::string::npos);
  EXPECT_EQ(out.find("Parsing"), std::string::npos);  // per-file texts only on a terminal
  // The CRC cache lives in the program folder; --rehash (before the list, or before
  // --revert, or joined to the list) reads every file again.
  EXPECT_TRUE(test::Exists(dir / "home/crccache.db"));
  EXPECT_EQ(test::RunCommand(cli + " --rehash " + test::ShellQuote(List()), &out), 0) << out;
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote("--rehash " + List()), &out), 0) << out;
  EXPECT_EQ(test::RunCommand(cli + " --rehash --revert " + test::ShellQuote(List()), &out), 0)
      << out;
  EXPECT_NE(out.find("Status:  Reversion Complete"), std::string::npos) << out;
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote("||nes|nes|||0||||1|1|1|1|1"), &out), 1);
  EXPECT_EQ(out, "Data Missing: Rom Paths is a required Field, Fill it out Please\n");
  // Zipped ROMs are scanned like any others; "--verify" is taken before the list.
  EXPECT_EQ(
      test::RunCommand(
          cli + " " + test::ShellQuote("|" + dir / "roms" + "|zip|nes|||0||||1|1|1|1|1"), &out),
      0);
  EXPECT_EQ(test::RunCommand(cli + " --verify " +
                                 test::ShellQuote("|" + dir / "roms" + "|zip|nes|||0||||1|1|1|1|1"),
                             &out),
            0);
  EXPECT_NE(out.find("Status:  Done\n"), std::string::npos);
  // "--verify", "--rehash" and "--revert" come in any order.
  const std::string zips = test::ShellQuote("|" + dir / "roms" + "|zip|nes|||0||||1|1|1|1|1");
  for (const char* options :
       {"--verify --rehash", "--rehash --verify", "--rehash --verify --revert",
        "--revert --verify --rehash", "--verify --revert"}) {
    EXPECT_EQ(test::RunCommand(cli + " " + options + " " + zips, &out), 0) << options << out;
    const bool revert = std::string(options).find("--revert") != std::string::npos;
    EXPECT_NE(out.find(revert ? "Status:  Reversion Complete" : "Status:  Done\n"),
              std::string::npos)
        << options << out;
  }
}

// "-save" and "-preset" are words, not substrings; a name after its own "-preset" argument
// is the whole argument.
TEST_F(StartupTest, CommandLineWords) {
  const std::string list = List();
  const std::string odd = "|" + dir / "my-saves/nes" + "|nes|nes|Nice -preset x -save y||0||" +
                          dir / "dats/nes-save.dat" + "||1|1|1|1|1";
  struct Case {
    std::string label;
    Args args;
    bool named;
    std::string preset;
    bool save;
    std::string rom_field;
  } cases[] = {
      {"list alone", {list}, false, "", false, dir / "roms"},
      {"-save argument before", {"-save", list}, false, "", true, dir / "roms"},
      {"-save argument after", {list, "-save"}, false, "", true, dir / "roms"},
      {"joined -save before", {"-save " + list}, false, "", true, dir / "roms"},
      {"joined -save after", {list + " -save"}, false, "", true, dir / "roms"},
      {"-save and -preset inside fields", {odd}, false, "", false, dir / "my-saves/nes"},
      {"inside fields, saved", {"-save", odd}, false, "", true, dir / "my-saves/nes"},
      {"preset argument", {"-preset", "super nes"}, true, "super nes", false, ""},
      {"preset then -save", {"-preset", "nes", "-save"}, true, "nes", false, ""},
      {"joined preset cut at a blank", {"-preset super nes"}, true, "super", false, ""},
      {"joined preset and -save", {"-preset  nes -save"}, true, "nes", false, ""},
  };
  for (const Case& c : cases) {
    auto line = ParseCommandLine(c.args);
    ASSERT_TRUE(line.ok()) << c.label << ": " << line.status().message();
    EXPECT_EQ(line->named_preset, c.named) << c.label;
    EXPECT_EQ(line->preset, c.preset) << c.label;
    EXPECT_EQ(line->save, c.save) << c.label;
    if (!c.named) {
      ASSERT_EQ(line->fields.size(), 15u) << c.label;
      EXPECT_EQ(line->fields[0], "") << c.label;
      EXPECT_EQ(line->fields[1], c.rom_field) << c.label;
      EXPECT_EQ(line->fields[14], "1") << c.label;
    }
  }
  auto line = ParseCommandLine({odd});
  EXPECT_EQ(line->fields[4], "Nice -preset x -save y");
  EXPECT_EQ(line->fields[8], dir / "dats/nes-save.dat");
}

TEST_F(StartupTest, MalformedCommandLinesNameTheFieldAndQuoteLittle) {
  std::string broken = List();
  broken.replace(broken.find("Nintendo NES"), 12, "Nintendo\nNES");
  std::string huge_check = "|a|b|c|d|e|" + std::string(5000, 'x') + "|g|h|i|1|1|1|1|1";
  struct Case {
    Args args;
    std::string message;
  } cases[] = {
      {{}, "The command line is empty"},
      {{"-preset"}, "A preset name is missing after -preset"},
      {{"-preset", "  "}, "A preset name is missing after -preset"},
      {{"-preset "}, "A preset name is missing after -preset"},
      {{"-preset", "super", "nes"},
       "Unexpected argument \"nes\" after the preset name \"super\"; a name that holds blanks "
       "goes in quotes"},
      {{"-save"}, "The settings list is missing"},
      {{"|a"}, "The settings list has 2 fields separated by \"|\"; 15 are needed"},
      {{broken},
       "Field 5 (description) of the settings list holds a line break or NUL: "
       "\"Nintendo\\nNES\""},
      {{huge_check},
       "Field 7 (convert ROMs) of the settings list should be a check value (0 or 1) but reads "
       "\"" +
           std::string(200, 'x') + "...\""},
  };
  for (const Case& c : cases) {
    auto line = ParseCommandLine(c.args);
    ASSERT_FALSE(line.ok()) << c.message;
    EXPECT_EQ(line.status().kind(), ErrorKind::kInvalidInput);
    EXPECT_EQ(line.status().message().substr(0, c.message.size()), c.message);
  }
  // A long preset name is quoted short, and nothing is written.
  Runner r(dir / "home", rep);
  EXPECT_EQ(RunCommandLine(r, Args{"-preset", std::string(3000, 'n')}, false).kind(),
            ErrorKind::kNotFound);
  ASSERT_EQ(rep.messages.size(), 1u);
  EXPECT_LT(rep.messages[0].size(), 200u + 100u + dir.path().size());
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), Args{});
}

// The hostile reproductions: a path holding "-save" is used as written, and no preset is
// saved; a system name with blanks is saved and then runs as a named preset.
TEST_F(StartupTest, SaveInsidePathsAndPresetNamesWithBlanks) {
  test::MakeDir(dir / "dats");
  test::MakeDir(dir / "my-saves/nes");
  WriteFile(dir / "my-saves/nes/Beta.nes", "b");
  const std::string list = "|" + dir / "my-saves/nes" + "|nes|super nes|||0||" +
                           dir / "dats/nes-save.dat" + "||1|1|1|1|1";
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, Args{list}, false).ok());
    EXPECT_FALSE(r.NeedsSaved);
  }
  EXPECT_EQ(test::FolderEntries(dir / "dats"), Args{"nes-save.dat"});
  EXPECT_NE(ReadFile(dir / "dats/nes-save.dat").find("\tname Beta\r\n"), std::string::npos);
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), Args{"lastused.pre"});
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, Args{"-save", list}, false).ok());
  }
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), (Args{"lastused.pre", "super nes.pre"}));
  test::RecordingReporter rep2;
  Runner r(dir / "home", rep2);
  ASSERT_TRUE(RunCommandLine(r, Args{"-preset", "super nes"}, false).ok())
      << (rep2.messages.empty() ? "" : rep2.messages[0]);
  EXPECT_EQ(SystemName(r.settings), "super nes");
  EXPECT_EQ(rep2.statuses.back(), "Status:  Done");
}

// Exit statuses for scripts: 0 done, 3 done with warnings, 1 stopped, 2 usage; a malformed
// command line creates nothing.
TEST_F(StartupTest, HeadlessExitStatusesAndUsage) {
  const std::string home = dir / "fresh-home";
  const std::string cli =
      test::WithEnvironment("QUORVIN_HOME", home) + test::ShellQuote(QUORVIN_CLI);
  std::string out;
  EXPECT_EQ(test::RunCommand(cli + " -h", &out), 0);
  EXPECT_NE(out.find("Exit status: 0 done; 3 done with warnings"), std::string::npos);
  EXPECT_EQ(test::RunCommand(cli + " -preset", &out), 2);
  EXPECT_NE(out.find("A preset name is missing after -preset"), std::string::npos);
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote("|a|b"), &out), 2);
  EXPECT_EQ(test::RunCommand(cli + " --revert " + test::ShellQuote("|a|b"), &out), 2);
  EXPECT_FALSE(test::Exists(home));

  // A front-end step that cannot run is a warning: the run completes with status 3.
  test::MakeDir(dir / "dk");
  const std::string with_dk =
      "|" + dir / "roms" + "|nes|nes|||0||" + dir / "out.dat" + "|" + dir / "dk" + "|1|0|0|0|0";
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote(with_dk), &out), 3);
  EXPECT_NE(out.find("Warning: Dragon King Setup: The folder " + dir / "dk/cfgs" +
                     " does not exist, so no config file was made\n"),
            std::string::npos);
  EXPECT_NE(out.find("Status:  Done\n"), std::string::npos);
  EXPECT_EQ(test::RunCommand(cli + " " + test::ShellQuote(List()), &out), 0);
  EXPECT_EQ(test::RunCommand(cli + " -preset missing", &out), 1);
}

// Every CRC-32 method the processor has writes the same dat; one it lacks, or a name that is
// no method, stops the run with a message and leaves the output alone.
TEST_F(StartupTest, HeadlessProgramHonoursQuorvinCrcAndQuorvinThreads) {
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 2654435761u >> 13);
  WriteFile(dir / "roms/Big.nes", big);
  const std::string run = QUORVIN_CLI + std::string(" ") + test::ShellQuote(List());
  const std::string home = test::WithEnvironment("QUORVIN_HOME", dir / "home");
  auto env = [](const char* name, const std::string& value) {
    return test::WithEnvironment(name, value);
  };
  std::string out, reference;
  ASSERT_EQ(test::RunCommand(
                home + env("QUORVIN_CRC", "portable") + env("QUORVIN_THREADS", "1") + run, &out),
            0)
      << out;
  reference = ReadFile(dir / "out.dat");
  for (const char* tier : {"pclmul", "vpclmul"}) {
    for (const char* threads : {"1", "3"}) {
      const int rc = test::RunCommand(
          home + env("QUORVIN_CRC", tier) + env("QUORVIN_THREADS", threads) + run, &out);
      if (rc != 0) {
        // Only a processor without the method may refuse it, and then with a clear message.
        EXPECT_NE(out.find("QUORVIN_CRC=" + std::string(tier) +
                           " asks for a CRC-32 method this processor does not support"),
                  std::string::npos)
            << out;
        continue;
      }
      EXPECT_EQ(ReadFile(dir / "out.dat"), reference) << tier << " " << threads;
    }
  }
  WriteFile(dir / "out.dat", "previous");
  EXPECT_EQ(test::RunCommand(home + env("QUORVIN_CRC", "fast") + run, &out), 1);
  EXPECT_NE(out.find("QUORVIN_CRC must be portable, pclmul or vpclmul, not \"fast\""),
            std::string::npos)
      << out;
  EXPECT_EQ(test::RunCommand(home + env("QUORVIN_THREADS", "lots") + run, &out), 1);
  EXPECT_NE(out.find("QUORVIN_THREADS must be a whole number"), std::string::npos) << out;
  EXPECT_EQ(ReadFile(dir / "out.dat"), "previous");
}

}  // namespace
}  // namespace quorvin
