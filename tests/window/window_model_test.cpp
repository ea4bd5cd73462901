// The window model driven as a view drives it, with a view that records what it is told and
// answers the dialogs as a test says. The test's thread is the view's thread: posted jobs
// run when the test pumps them.

#include "window/window_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <unistd.h>
#endif

#include "cache/hash_cache.h"
#include "platform/fileops.h"
#include "platform/path.h"
#include "presets/preset_file.h"
#include "test_util.h"

namespace quorvin::window {
namespace {

// A file with its folders made first.
void Write(const std::string& path, std::string_view bytes) {
  // Folders from the test's own one down; each one level, as MakeFolder makes them.
  std::vector<std::string> missing;
  for (std::string f = FolderOf(path); !IsFolder(f); f = FolderOf(f)) missing.push_back(f);
  for (auto it = missing.rbegin(); it != missing.rend(); ++it) ASSERT_TRUE(MakeFolder(*it).ok());
  test::WriteFile(path, bytes);
}

class FakeView : public ViewPort {
 public:
  void Post(std::function<void()> job) override {
    std::lock_guard<std::mutex> lock(mu_);
    jobs_.push_back(std::move(job));
    cv_.notify_all();
  }
  void ShowMessage(const std::string& title, const std::string& text) override {
    messages.push_back(title + ": " + text);
  }
  bool Confirm(const std::string& title, const std::string& text) override {
    questions.push_back(title + ": " + text);
    if (while_asked) while_asked();  // a dialog's message loop runs posted jobs meanwhile
    return confirm_answer;
  }
  std::string PickFolder(const std::string& initial, const std::string& title) override {
    asked.push_back(initial + "|" + title);
    return pick_answer;
  }
  std::string PickSaveFile(const std::string& initial) override {
    return PickFolder(initial, "save");
  }
  bool OpenFile(const std::string& path) override {
    opened.push_back(path);
    return open_answer;
  }
  void ShowAbout() override { ++abouts; }
  void SettingsChanged() override { ++settings_changed; }
  void SystemListChanged() override { ++system_lists; }
  void PresetsChanged() override { ++presets_changed; }
  void StatusChanged() override {
    if (model != nullptr) statuses.push_back(model->status_view());
  }
  void RunningChanged() override {
    if (model != nullptr) enabled_seen.push_back(model->inputs_enabled());
  }
  void CommandFinished() override { ++finished; }
  void ProgramEnds(int exit_status) override { ends.push_back(exit_status); }
  void CloseNow() override { ++close_now; }

  // Runs posted jobs, and polls as a view's timer would, until `done` holds or a minute has
  // passed; false on the timeout.
  bool PumpUntil(const std::function<bool()>& done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (!done()) {
      if (std::chrono::steady_clock::now() > until) return false;
      std::function<void()> job;
      {
        std::unique_lock<std::mutex> lock(mu_);
        cv_.wait_for(lock, std::chrono::milliseconds(kStatusPollMs),
                     [&] { return !jobs_.empty(); });
        if (!jobs_.empty()) {
          job = std::move(jobs_.front());
          jobs_.pop_front();
        }
      }
      if (job) job();
      if (model != nullptr && model->running()) model->PollStatus();
      if (on_pump) on_pump();
    }
    return true;
  }

  WindowModel* model = nullptr;
  std::vector<std::string> messages, questions, asked, opened;
  std::vector<StatusView> statuses;
  std::vector<bool> enabled_seen;
  std::vector<int> ends;
  bool confirm_answer = false;
  std::string pick_answer;  // of both the folder picker and the save dialog
  bool open_answer = true;
  int abouts = 0, settings_changed = 0, system_lists = 0, presets_changed = 0, finished = 0,
      close_now = 0;
  std::function<void()> on_pump;
  std::function<void()> while_asked;

 private:
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> jobs_;
};

class WindowModelTest : public ::testing::Test {
 protected:
  WindowModelTest() {
    home = dir / "home";
    EXPECT_TRUE(PrepareProgramFolder(home).ok());
    model = std::make_unique<WindowModel>(home, view);
    view.model = model.get();
  }
  ~WindowModelTest() override { view.model = nullptr; }

  // The settings of a run over the ".nes" ROMs of `folder`.
  void UseRoms(const std::string& folder) {
    model->SetText(TextField::kRom, folder);
    model->SetText(TextField::kExtension, "nes");
    model->SetText(TextField::kSystem, "nes");
  }
  // Presses a command and waits until it has ended.
  bool RunAndWait(void (WindowModel::*command)()) {
    const int before = view.finished;
    (model.get()->*command)();
    return view.PumpUntil([&] { return view.finished > before; });
  }

  test::TempDir dir;
  std::string home;
  FakeView view;
  std::unique_ptr<WindowModel> model;
};

TEST_F(WindowModelTest, StartsWithTheWindowsInitialValues) {
  const RunSettings& s = model->settings();
  for (TextField f : kTextFields) {
    EXPECT_EQ(TextOf(s, f), f == TextField::kSystem ? std::string(kSystemHint) : "");
  }
  // The Dragon King boxes start checked; Convert Roms and the zip check start cleared.
  for (CheckField f : kCheckFields) {
    EXPECT_EQ(CheckOf(s, f), f != CheckField::kCvtRoms && f != CheckField::kVerify);
  }
  EXPECT_EQ(model->status_view().status, "Status: Ready");
  EXPECT_FALSE(model->status_view().bar_shown);
  EXPECT_TRUE(model->inputs_enabled());
  EXPECT_EQ(kWindowTitle,
            "Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer");
}

// Every field reaches its own setting and nothing else.
TEST_F(WindowModelTest, EachFieldSetsItsOwnSetting) {
  int n = 0;
  for (TextField f : kTextFields) {
    if (f == TextField::kMessPath) continue;  // refills the list; below
    const std::string value = "value " + std::to_string(n++);
    model->SetText(f, value);
    EXPECT_EQ(TextOf(model->settings(), f), value);
  }
  n = 0;
  for (TextField f : kTextFields) {
    if (f == TextField::kMessPath) continue;
    EXPECT_EQ(TextOf(model->settings(), f), "value " + std::to_string(n++));
  }
  for (CheckField f : kCheckFields) {
    model->SetCheck(f, !CheckOf(model->settings(), f));
    EXPECT_EQ(CheckOf(model->settings(), f), f == CheckField::kCvtRoms || f == CheckField::kVerify);
  }
}

TEST_F(WindowModelTest, MessFolderRefillsTheSystemListAndChoosingAnEntryShowsIt) {
  Write(dir / "mess/crc/nes.crc", "[nes]\r\n");
  Write(dir / "mess/crc/a2600.crc", "[a2600]\r\n");
  model->SetText(TextField::kMessPath, JoinPath(dir / "mess", ""));
  EXPECT_EQ(view.system_lists, 1);
  EXPECT_EQ(model->settings().cmbHName.list, (std::vector<std::string>{"a2600", "nes"}));
  EXPECT_EQ(model->settings().cmbHName.text, kSystemHint);  // the typed text stays
  model->ChooseSystem(1);
  EXPECT_EQ(model->settings().cmbHName.text, "nes");
  EXPECT_EQ(model->settings().cmbHName.selected, size_t{1});
  model->ChooseSystem(7);  // no such entry: nothing changes
  EXPECT_EQ(model->settings().cmbHName.selected, size_t{1});
  model->SetText(TextField::kSystem, "nesx");  // typing leaves no entry chosen
  EXPECT_FALSE(model->settings().cmbHName.selected.has_value());
  // The same text again (a view drawing the field fires its own change) refills nothing.
  model->SetText(TextField::kMessPath, model->settings().txtMessPath);
  EXPECT_EQ(view.system_lists, 1);
}

TEST_F(WindowModelTest, BrowseFillsTheFieldOnlyWhenSomethingWasChosen) {
  struct Case {
    void (WindowModel::*browse)();
    TextField field;
    std::string answer;
    std::string expected;  // "" : the field is left as it was
    std::string title;
  };
  const std::string mess = dir / "mess";
  const std::vector<Case> cases = {
      {&WindowModel::BrowseMess, TextField::kMessPath, "", "", "|Locate Folder Containing MESS"},
      {&WindowModel::BrowseMess, TextField::kMessPath, mess, WithTrailingSep(mess),
       "|Locate Folder Containing MESS"},
      {&WindowModel::BrowseDk, TextField::kDkPath, "", "", "|Locate Folder Containing Dragon King"},
      {&WindowModel::BrowseDk, TextField::kDkPath, dir / "dk", dir / "dk",
       "|Locate Folder Containing Dragon King"},
      {&WindowModel::BrowseOutput, TextField::kOutput, "", "", "|save"},
      {&WindowModel::BrowseOutput, TextField::kOutput, dir / "out.dat", dir / "out.dat", "|save"},
      // A name typed without its extension gets the filter's.
      {&WindowModel::BrowseOutput, TextField::kOutput, dir / "nes", dir / "nes.dat", "|save"},
      // An XML dat keeps its ending (the dialog's XML filter adds it to a bare name).
      {&WindowModel::BrowseOutput, TextField::kOutput, dir / "nes.xml", dir / "nes.xml", "|save"},
  };
  for (const Case& c : cases) {
    model->SetText(c.field, "before");
    view.asked.clear();
    view.pick_answer = c.answer;
    (model.get()->*c.browse)();
    ASSERT_EQ(view.asked.size(), 1u);
    EXPECT_EQ(view.asked[0], "before" + c.title);
    EXPECT_EQ(TextOf(model->settings(), c.field), c.expected.empty() ? "before" : c.expected)
        << c.answer;
  }
}

TEST_F(WindowModelTest, StartWithoutRomFolderSaysSoAndTakesInputAgain) {
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_EQ(view.messages[0], "Data Missing: Rom Paths is a required Field, Fill it out Please");
  EXPECT_EQ(view.enabled_seen, (std::vector<bool>{false, true}));
  EXPECT_TRUE(model->inputs_enabled());
}

TEST_F(WindowModelTest, PresetsSaveLoadAndADamagedOneSaysSo) {
  model->StartInteractive();
  model->SetText(TextField::kSystem, "snes");
  model->SetText(TextField::kRom, dir / "roms");
  model->SavePreset();
  EXPECT_EQ(model->presets(), (std::vector<std::string>{"snes"}));
  model->SetText(TextField::kRom, "changed");
  model->PickPreset(0);
  EXPECT_EQ(model->settings().txtRom, dir / "roms");
  // Removed since the list was filled: nothing loads, nothing is said.
  ASSERT_TRUE(RenameNoReplace(JoinPath(home, "presets/snes.pre"), dir / "gone.pre").ok());
  model->SetText(TextField::kRom, "kept");
  model->PickPreset(0);
  EXPECT_EQ(model->settings().txtRom, "kept");
  EXPECT_TRUE(view.messages.empty());
  // A file that is not a preset says so and loads nothing.
  Write(JoinPath(home, "presets/snes.pre"), std::string("\0\1\2", 3));
  model->PickPreset(0);
  EXPECT_EQ(model->settings().txtRom, "kept");
  EXPECT_EQ(view.messages.size(), 1u);
  model->PickPreset(5);  // out of range: nothing
  EXPECT_EQ(view.messages.size(), 1u);
}

// A run of the example collection: inputs off during it, the dat written, status "Done".
TEST_F(WindowModelTest, ARunOnTheExamplesWritesTheDatWithInputsOffMeanwhile) {
  UseRoms(JoinPath(QUORVIN_EXAMPLES, "roms/nes"));
  model->SetText(TextField::kOutput, dir / "nes.dat");
  for (CheckField f : kCheckFields) model->SetCheck(f, false);
  bool typed_during_run = false;
  view.on_pump = [&] {
    if (model->running() && !typed_during_run) {
      typed_during_run = true;
      model->SetText(TextField::kRom, "typed during the run");  // ignored
      EXPECT_FALSE(model->inputs_enabled());
    }
  };
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];
  EXPECT_EQ(model->status_view().status, "Status:  Done");
  EXPECT_FALSE(model->status_view().bar_shown);
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "nes.dat"), "game ("));
  EXPECT_EQ(model->settings().txtRom, JoinPath(QUORVIN_EXAMPLES, "roms/nes"));
  EXPECT_EQ(model->settings().txtExtension, ".nes");  // completed by the run, and shown
  EXPECT_GE(view.settings_changed, 1);
}

TEST_F(WindowModelTest, WarningsCompleteTheRunAndShowOnTheStatusLineAndItsTip) {
  Write(dir / "roms/Alpha.nes", "abc");
  UseRoms(dir / "roms");
  model->SetText(TextField::kRenamePaths, dir / "no such art");
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  EXPECT_TRUE(view.messages.empty());
  const StatusView v = model->status_view();
  EXPECT_TRUE(test::Contains(v.status, "completed with 1 warning;")) << v.status;
  EXPECT_TRUE(test::Contains(v.tip, "no such art")) << v.tip;
  EXPECT_EQ(model->warnings().size(), 1u);
}

// "Rehash all files" reads every file rather than take its CRC from the cache. It is not a
// setting: it starts cleared, and neither a preset nor the last-used settings keep it.
TEST_F(WindowModelTest, RehashReadsEveryFileAndIsKeptNowhere) {
  EXPECT_FALSE(model->rehash());
  const std::string rom = JoinPath(dir / "roms", "Alpha.nes");  // as the scan names it
  Write(rom, "abc");
  UseRoms(dir / "roms");
  model->SetText(TextField::kOutput, dir / "out.dat");
  {
    // A record of the file as it is now that no read of it could give.
    auto file = InputFile::Open(rom);
    ASSERT_TRUE(file.ok());
    auto id = file->Identity();
    ASSERT_TRUE(id.ok());
    HashCacheOptions options;
    options.racy_window_ns = 0;
    auto cache = OpenHashCache(JoinPath(home, std::string(kHashCacheFileName)), options);
    CachedHash forged;
    forged.size = 3;
    forged.crc = 0xABCDEF;
    forged.head = "abc";
    cache->Record({rom, *id}, *id, forged, NowNs());
    cache->Finish();
  }
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "out.dat"), "crc ABCDEF"));
  model->SetRehash(true);
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "out.dat"), "crc 352441C2"));
  EXPECT_TRUE(model->rehash());  // applies to the runs that follow, until cleared
  EXPECT_TRUE(view.messages.empty()) << view.messages[0];
  model->SavePreset();
  EXPECT_TRUE(model->RequestClose());
  for (const char* name : {"presets/nes.pre", "presets/lastused.pre"}) {
    const std::string preset = test::ReadFile(JoinPath(home, name));
    // The sixteen settings (the last is the zip check), and nothing of the rehash box.
    EXPECT_EQ(std::count(preset.begin(), preset.end(), '\n'), 16) << name;
  }
  FakeView other_view;
  WindowModel again(home, other_view);
  other_view.model = &again;
  again.StartInteractive();
  EXPECT_FALSE(again.rehash());
  other_view.model = nullptr;
}

TEST_F(WindowModelTest, ClosingDuringARunAsksThenStopsAfterTheFileInHandAndSaves) {
  for (int i = 0; i < 3000; ++i) Write(dir / ("roms/g" + std::to_string(i) + ".nes"), "x");
  UseRoms(dir / "roms");
  model->Start();
  ASSERT_TRUE(model->running());
  view.confirm_answer = false;
  EXPECT_FALSE(model->RequestClose());  // "no": the run goes on
  EXPECT_TRUE(model->running());
  view.confirm_answer = true;
  EXPECT_FALSE(model->RequestClose());  // "yes": closes when the run has stopped
  EXPECT_FALSE(model->RequestClose());  // asked once only
  EXPECT_EQ(view.questions.size(), 2u);
  ASSERT_TRUE(view.PumpUntil([&] { return view.close_now > 0; }));
  EXPECT_FALSE(model->running());
  EXPECT_TRUE(model->RequestClose());  // the view's close after CloseNow
  EXPECT_TRUE(IsFile(JoinPath(home, "presets/lastused.pre")));
  EXPECT_TRUE(view.ends.empty());
}

// The run ends while the close question is up: a yes closes at once, with nothing to wait
// for (no CloseNow would ever come).
TEST_F(WindowModelTest, ARunThatEndsWhileTheCloseQuestionIsUpClosesOnYes) {
  Write(dir / "roms/Alpha.nes", "abc");
  UseRoms(dir / "roms");
  model->Start();
  ASSERT_TRUE(model->running());
  view.while_asked = [&] { EXPECT_TRUE(view.PumpUntil([&] { return !model->running(); })); };
  view.confirm_answer = true;
  EXPECT_TRUE(model->RequestClose());
  EXPECT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(view.close_now, 0);
  EXPECT_TRUE(IsFile(JoinPath(home, "presets/lastused.pre")));
}

TEST_F(WindowModelTest, CommandLineStartsEndTheProgramWithTheRunsStatus) {
  struct Case {
    std::vector<std::string> args;
    int exit_status;  // -1: the window stays (a required field is empty)
  };
  const std::string ok = "|" + JoinPath(QUORVIN_EXAMPLES, "roms/nes") + "|nes|nes|||0||" +
                         (dir / "cl.dat") + "||0|0|0|0|0";
  const std::vector<Case> cases = {
      {{ok}, kExitDone},
      {{"|only|three"}, kExitUsage},
      {{"|||nes|||0||||1|1|1|1|1"}, -1},
      {{"-preset", "no such preset"}, kExitStopped},
  };
  const std::string last_used = JoinPath(home, "presets/lastused.pre");
  for (const Case& c : cases) {
    FakeView v;
    WindowModel m(home, v);
    v.model = &m;
    const std::string before = IsFile(last_used) ? test::ReadFile(last_used) : "(none)";
    m.StartCommandLine(c.args);
    if (c.exit_status >= 0) {
      ASSERT_TRUE(v.PumpUntil([&] { return !v.ends.empty(); })) << c.args[0];
      EXPECT_EQ(v.ends, std::vector<int>{c.exit_status}) << c.args[0];
      EXPECT_EQ(m.exit_status(), c.exit_status);
    } else {
      ASSERT_TRUE(v.PumpUntil([&] { return v.finished > 0; }));
      EXPECT_TRUE(v.ends.empty());
      EXPECT_TRUE(m.inputs_enabled());
      EXPECT_EQ(v.messages.size(), 1u);
    }
    if (c.exit_status == kExitUsage) {
      EXPECT_EQ(v.messages.size(), 1u);
      // A malformed list never replaces the settings of the last run.
      EXPECT_EQ(IsFile(last_used) ? test::ReadFile(last_used) : "(none)", before);
    }
    v.model = nullptr;
  }
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "cl.dat"), "game ("));
}

TEST_F(WindowModelTest, ReadMeOpensTheFirstFileFoundOrSaysWhereItLooked) {
  Write(dir / "b/readme.txt", "read me");
  const std::vector<std::string> candidates = {dir / "a/readme.txt", dir / "b/readme.txt"};
  model->OpenReadme(candidates);
  EXPECT_EQ(view.opened, std::vector<std::string>{dir / "b/readme.txt"});
  view.open_answer = false;
  model->OpenReadme(candidates);
  ASSERT_EQ(view.messages.size(), 1u);
  EXPECT_TRUE(test::Contains(view.messages[0], "Read Me First: No program is set up to open"));
  model->OpenReadme({dir / "a/readme.txt"});
  ASSERT_EQ(view.messages.size(), 2u);
  EXPECT_EQ(view.messages[1],
            "Not Found: The read-me file is in none of these places:\n" + (dir / "a/readme.txt"));
  model->About();
  EXPECT_EQ(view.abouts, 1);
}

TEST_F(WindowModelTest, DroppedDuringARunStopsAndWaitsForIt) {
  for (int i = 0; i < 2000; ++i) Write(dir / ("roms/g" + std::to_string(i) + ".nes"), "x");
  UseRoms(dir / "roms");
  model->Start();
  view.model = nullptr;
  model.reset();  // must neither hang nor crash
  EXPECT_FALSE(IsFile(dir / "roms/g0.nes.tmp"));
}

#if !defined(_WIN32)
// One huge file: the bar moves by its bytes, not "0 of 1 files" until the end. A sparse file
// costs no disk.
TEST_F(WindowModelTest, OneHugeFileMovesTheBarByItsBytes) {
  const std::string huge = dir / "roms/huge.nes";
  Write(huge, "");
  ASSERT_EQ(::truncate(huge.c_str(), off_t{1} << 30), 0);
  UseRoms(dir / "roms");
  ASSERT_TRUE(RunAndWait(&WindowModel::Start));
  bool moved = false;
  for (const StatusView& v : view.statuses) {
    if (v.bar_shown && v.bar_permille > 0 && test::Contains(v.bar_text, "0 of 1 files, ") &&
        test::Contains(v.bar_text, " of 1.0 GiB")) {
      moved = true;
    }
  }
  EXPECT_TRUE(moved);
}
#endif

}  // namespace
}  // namespace quorvin::window
