#include "run/startup.h"

#include <gtest/gtest.h>

#include "test_util.h"

namespace quorvin {
namespace {

using test::Contains;
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
  std::string List() const {
    return "|" + dir / "roms" + "|nes|nes|Nintendo NES||0||" + dir / "out.dat" + "||1|1|1|1|1";
  }
  test::TempDir dir;
  test::RecordingReporter rep;
};

// A settings list runs and becomes "lastused"; "-save" inside a path is no "-save" word; a
// saved preset is named after the system, blanks and all, and runs by that name without
// touching "lastused" or being saved again.
TEST_F(StartupTest, SettingsListRunsAndIsSavedAsTheSystemsPresetOnlyWhenAsked) {
  test::MakeDir(dir / "dats");
  test::MakeDir(dir / "my-saves/nes");
  WriteFile(dir / "my-saves/nes/Beta.nes", "b");
  const std::string list = "|" + dir / "my-saves/nes" + "|nes|super nes|Nintendo NES||0||" +
                           dir / "dats/nes-save.dat" + "||1|1|1|1|1";
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, Args{list}, false).ok());
    EXPECT_TRUE(r.SilentMode);
    EXPECT_FALSE(r.NeedsSaved);
    EXPECT_EQ(rep.statuses.back(), "Status:  Done");
  }
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"),
            "\r\n" + dir / "my-saves/nes" +
                "\r\nnes\r\nsuper nes\r\nNintendo NES\r\n\r\n0\r\n\r\n" +
                dir / "dats/nes-save.dat" + "\r\n\r\n1\r\n1\r\n1\r\n1\r\n1\r\n");
  EXPECT_EQ(test::FolderEntries(dir / "dats"), Args{"nes-save.dat"});
  EXPECT_TRUE(Contains(ReadFile(dir / "dats/nes-save.dat"), "\tname Beta\r\n"));
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), Args{"lastused.pre"});
  {
    Runner r(dir / "home", rep);
    ASSERT_TRUE(RunCommandLine(r, Args{"-save", list}, false).ok());
    EXPECT_TRUE(r.NeedsSaved);
    EXPECT_EQ(r.settings.cmbHName.text, "super nes");
  }
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), (Args{"lastused.pre", "super nes.pre"}));
  // The first field keeps no leading blank.
  EXPECT_EQ(ReadFile(dir / "home/presets/super nes.pre").substr(0, 2), "\r\n");
  WriteFile(dir / "home/presets/lastused.pre", "sentinel");
  test::RecordingReporter rep2;
  Runner r(dir / "home", rep2);
  ASSERT_TRUE(RunCommandLine(r, Args{"-preset", "super nes", "-save"}, false).ok())
      << (rep2.messages.empty() ? "" : rep2.messages[0]);
  EXPECT_FALSE(r.NeedsSaved);
  EXPECT_EQ(SystemName(r.settings), "super nes");
  EXPECT_EQ(rep2.statuses.back(), "Status:  Done");
  EXPECT_EQ(ReadFile(dir / "home/presets/lastused.pre"), "sentinel");
}

// Each is shown as "<title>: <text>", naming the field and quoting little, and nothing is
// written.
TEST_F(StartupTest, BadCommandLinesSayWhatIsWrongAndDamageNothing) {
  WriteFile(dir / "home/presets/lastused.pre", "sentinel");
  WriteFile(dir / "home/presets/short.pre", "a\r\nb\r\n");
  std::string broken = List();
  broken.replace(broken.find("Nintendo NES"), 12, "Nintendo\nNES");
  const std::string missing = "A preset name is missing after -preset";
  struct Case {
    Args args;
    std::string message;
    std::string title = "Invalid Input";
  } cases[] = {
      {{}, "The command line is empty"},
      {{"-preset"}, missing},
      {{"-preset", "  "}, missing},
      {{"-preset "}, missing},
      {{"-preset", "super", "nes"},
       "Unexpected argument \"nes\" after the preset name \"super\"; a name that holds blanks "
       "goes in quotes"},
      {{"-save"}, "The settings list is missing"},
      {{"|a"}, "The settings list has 2 fields separated by \"|\"; 15 are needed"},
      {{"|a|b"}, "The settings list has 3 fields separated by \"|\"; 15 are needed"},
      {{List() + "|extra"}, "The settings list has 16 fields"},
      {{broken},
       "Field 5 (description) of the settings list holds a line break or NUL: "
       "\"Nintendo\\nNES\""},
      {{"|a|b|c|d|e|" + std::string(5000, 'x') + "|g|h|i|1|1|1|1|1"},
       "Field 7 (convert ROMs) of the settings list should be a check value (0 or 1) but reads "
       "\"" +
           std::string(200, 'x') + "...\""},
      {{"-preset missing"}, "There is no preset named \"missing\"", "Not Found"},
      {{"-preset", std::string(3000, 'n')},
       "There is no preset named \"" + std::string(200, 'n') + "...\" in ",
       "Not Found"},
      {{"-preset short"},
       "The preset file " + dir / "home/presets/short.pre" + " has 2 lines",
       "Damaged File"},
  };
  for (const Case& c : cases) {
    const std::string message = c.title + ": " + c.message;
    SCOPED_TRACE(message);
    test::RecordingReporter r2;
    Runner r(dir / "home", r2);
    EXPECT_EQ(RunCommandLine(r, c.args, false).ToString().substr(0, message.size()), message);
    ASSERT_EQ(r2.messages.size(), 1u);
    EXPECT_EQ(r2.messages[0].substr(0, message.size()), message);
  }
  EXPECT_EQ(test::FolderEntries(dir / "home/presets"), (Args{"lastused.pre", "short.pre"}));
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

// "-save" and "-preset" are words, not substrings; a name after its own "-preset" argument
// is the whole argument.
TEST_F(StartupTest, CommandLineWords) {
  const std::string list = List();
  const std::string odd = "|" + dir / "my-saves/nes" + "|nes|nes|Nice -preset x -save y||0||" +
                          dir / "dats/nes-save.dat" + "||1|1|1|1|1";
  struct Case {
    std::string label;
    Args args;
    std::string preset;  // a named preset when not empty
    bool save;
    std::string fields;  // the settings list read, or "" for none
  } cases[] = {
      {"list alone", {list}, "", false, list},
      {"-save argument before", {"-save", list}, "", true, list},
      {"-save argument after", {list, "-save"}, "", true, list},
      {"joined -save before", {"-save " + list}, "", true, list},
      {"joined -save after", {list + " -save"}, "", true, list},
      {"-save and -preset inside fields", {odd}, "", false, odd},
      {"inside fields, saved", {"-save", odd}, "", true, odd},
      {"preset argument", {"-preset", "super nes"}, "super nes", false, ""},
      {"preset then -save", {"-preset", "nes", "-save"}, "nes", false, ""},
      {"joined preset cut at a blank", {"-preset super nes"}, "super", false, ""},
      {"joined preset and -save", {"-preset  nes -save"}, "nes", false, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    auto line = ParseCommandLine(c.args);
    ASSERT_TRUE(line.ok()) << line.status().message();
    EXPECT_EQ(line->named_preset, !c.preset.empty());
    EXPECT_EQ(line->preset, c.preset);
    EXPECT_EQ(line->save, c.save);
    std::string fields;  // the fields read, joined again
    for (const std::string& f : line->fields) fields += "|" + f;
    EXPECT_EQ(line->fields.size(), c.fields.empty() ? 0u : 15u);
    EXPECT_EQ(fields, c.fields.empty() ? "" : "|" + c.fields);
  }
}

// The headless program's contract, for scripts: messages as "<title>: <text>" on stderr;
// exit status 0 done, 3 done with warnings, 1 stopped, 2 usage; a malformed command line
// creates nothing.
TEST_F(StartupTest, HeadlessProgramExitStatusAndMessages) {
  const std::string home = dir / "fresh-home";
  const std::string cli =
      test::WithEnvironment("QUORVIN_HOME", home) + test::ShellQuote(QUORVIN_CLI) + " ";
  const std::string list = test::ShellQuote(List());
  const std::string zips = test::ShellQuote("|" + dir / "roms" + "|zip|nes|||0||||1|1|1|1|1");
  test::MakeDir(dir / "dk");
  const std::string with_dk = test::ShellQuote("|" + dir / "roms" + "|nes|nes|||0||" +
                                               dir / "out.dat" + "|" + dir / "dk" + "|1|0|0|0|0");
  const std::string done = "Status:  Done\n", reverted = "Status:  Reversion Complete";
  struct Case {
    std::string args;
    int status;
    Args shown;          // parts of the output
    bool whole = false;  // shown[0] is all of it
  } cases[] = {
      {"-h", 0, {"Exit status: 0 done; 3 done with warnings"}},
      {"--version", 0, {}},
      {"", 2, {"usage:"}},
      {"-preset", 2, {"A preset name is missing after -preset"}},
      {test::ShellQuote("|a|b"), 2, {}},
      {"--revert " + test::ShellQuote("|a|b"), 2, {}},
      {list, 0, {done}},
      // The CRC cache lives in the program folder; --rehash (before the list, or before
      // --revert, or joined to the list) reads every file again.
      {"--rehash " + list, 0, {done}},
      {test::ShellQuote("--rehash " + List()), 0, {done}},
      {"--rehash --revert " + list, 0, {reverted}},
      {test::ShellQuote("||nes|nes|||0||||1|1|1|1|1"),
       1,
       {"Data Missing: Rom Paths is a required Field, Fill it out Please\n"},
       true},
      // Zipped ROMs are scanned like any others; "--verify", "--rehash" and "--revert" come
      // before the list in any order.
      {zips, 0, {done}},
      {"--verify " + zips, 0, {done}},
      {"--verify --rehash " + zips, 0, {done}},
      {"--rehash --verify " + zips, 0, {done}},
      {"--rehash --verify --revert " + zips, 0, {reverted}},
      {"--revert --verify --rehash " + zips, 0, {reverted}},
      {"--verify --revert " + zips, 0, {reverted}},
      // A front-end step that cannot run is a warning: the run completes with status 3.
      {with_dk,
       3,
       {"Warning: Dragon King Setup: The folder " + dir / "dk/cfgs" +
            " does not exist, so no config file was made\n",
        done}},
      {list, 0, {done}},
      {"-preset missing", 1, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    std::string out;
    EXPECT_EQ(test::RunCommand(cli + c.args, &out), c.status) << out;
    EXPECT_TRUE(!c.whole || out == c.shown[0]) << out;
    for (const std::string& part : c.shown) EXPECT_TRUE(Contains(out, part)) << out;
    EXPECT_FALSE(Contains(out, "Parsing"));             // per-file texts only on a terminal
    EXPECT_TRUE(c.status != 2 || !test::Exists(home));  // a malformed line makes nothing
  }
  EXPECT_TRUE(test::Exists(dir / "fresh-home/crccache.db"));
}

// Every CRC-32 method the processor has writes the same dat; one it lacks, or a name that is
// no method, stops the run with a message and leaves the output alone.
TEST_F(StartupTest, HeadlessProgramHonoursQuorvinCrcAndQuorvinThreads) {
  std::string big(3 << 20, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 2654435761u >> 13);
  WriteFile(dir / "roms/Big.nes", big);
  auto run = [&](const std::string& crc, const std::string& threads, std::string* out) {
    return test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "home") +
                                test::WithEnvironment("QUORVIN_CRC", crc) +
                                test::WithEnvironment("QUORVIN_THREADS", threads) + QUORVIN_CLI +
                                " " + test::ShellQuote(List()),
                            out);
  };
  std::string out;
  ASSERT_EQ(run("portable", "1", &out), 0) << out;
  const std::string reference = ReadFile(dir / "out.dat");
  for (const std::string tier : {"pclmul", "vpclmul"}) {
    for (const char* threads : {"1", "3"}) {
      if (run(tier, threads, &out) != 0) {
        // Only a processor without the method may refuse it, and then with a clear message.
        EXPECT_TRUE(Contains(out, "QUORVIN_CRC=" + tier +
                                      " asks for a CRC-32 method this processor does not support"))
            << out;
        continue;
      }
      EXPECT_EQ(ReadFile(dir / "out.dat"), reference) << tier << " " << threads;
    }
  }
  WriteFile(dir / "out.dat", "previous");
  EXPECT_EQ(run("fast", "", &out), 1);
  EXPECT_TRUE(Contains(out, "QUORVIN_CRC must be portable, pclmul or vpclmul, not \"fast\""))
      << out;
  EXPECT_EQ(run("", "lots", &out), 1);
  EXPECT_TRUE(Contains(out, "QUORVIN_THREADS must be a whole number")) << out;
  EXPECT_EQ(ReadFile(dir / "out.dat"), "previous");
}

}  // namespace
}  // namespace quorvin
