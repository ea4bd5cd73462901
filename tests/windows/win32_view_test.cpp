// quorvin.exe driven from outside, as a user (or an accessibility tool) drives it: its window
// found by its class and process, its controls by their IDs, texts set and buttons pressed
// with window messages, message boxes read and answered. The behaviour behind the controls
// is the window model's, tested on its own; this tests the Win32 view's wiring.

#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/path.h"
#include "platform/wide_win32.h"
#include "test_util.h"
#include "ui/win32/main_window_win32.h"

namespace quorvin::win32 {
namespace {

using namespace std::chrono_literals;

// Waits until `done` holds, for up to a minute (the first start of Wine is slow).
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 60000ms) {
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > until) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

std::string TextOf(HWND hwnd) {
  wchar_t text[4096] = {};
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                      5000, nullptr);
  return Narrow(text);
}

// The top-level windows of a process with a given class.
std::vector<HWND> WindowsOf(DWORD pid, const wchar_t* cls) {
  struct Search {
    DWORD pid;
    const wchar_t* cls;
    std::vector<HWND> found;
  } search{pid, cls, {}};
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == s->pid && ClassOf(hwnd) == s->cls && IsWindowVisible(hwnd)) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A message box's title and text.
struct Box {
  HWND hwnd = nullptr;
  std::string title;
  std::string text;
};

// quorvin.exe in a program folder of its own.
class Program {
 public:
  Program(const std::string& home, const std::string& arguments) {
    SetEnvironmentVariableW(L"QUORVIN_HOME", Widen(home).c_str());
    std::wstring command = L"\"" + Widen(QUORVIN_GUI_EXE) + L"\" " + Widen(arguments);
    STARTUPINFOW si{};
    si.cb = sizeof(si);
    ok_ = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                         &pi_) != 0;
    SetEnvironmentVariableW(L"QUORVIN_HOME", nullptr);
  }
  ~Program() {
    if (!ok_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) {
      TerminateProcess(pi_.hProcess, 99);
      WaitForSingleObject(pi_.hProcess, 10000);
    }
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }

  bool started() const { return ok_; }
  // The main window, once it is up.
  HWND Window() {
    if (hwnd_ == nullptr) {
      WaitFor([&] {
        auto found = WindowsOf(pi_.dwProcessId, L"QuorvinMainWindow");
        if (!found.empty()) hwnd_ = found[0];
        return hwnd_ != nullptr;
      });
    }
    return hwnd_;
  }
  HWND Item(int id) { return GetDlgItem(Window(), id); }
  std::string Text(int id) { return TextOf(Item(id)); }
  bool Enabled(int id) { return IsWindowEnabled(Item(id)) != 0; }
  bool Checked(int id) { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

  // Sets a text box as typing or pasting would: the box tells the window it changed.
  void SetText(int id, const std::string& text) {
    HWND target = Item(id);
    if (ClassOf(target) == L"ComboBox") target = FindWindowExW(target, nullptr, L"Edit", nullptr);
    const std::wstring wide = Widen(text);
    SendMessageW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
  }
  // Presses a button. Posted, so that a dialog it opens does not hold the test.
  void Press(int id) { PostMessageW(Item(id), BM_CLICK, 0, 0); }
  void Close() { PostMessageW(Window(), WM_CLOSE, 0, 0); }

  // The next message box the program shows, or an empty Box after the timeout.
  Box NextBox(std::chrono::milliseconds limit = 60000ms) {
    Box box;
    WaitFor(
        [&] {
          auto found = WindowsOf(pi_.dwProcessId, L"#32770");
          if (found.empty()) return false;
          box.hwnd = found[0];
          return true;
        },
        limit);
    if (box.hwnd != nullptr) {
      box.title = TextOf(box.hwnd);
      box.text = TextOf(GetDlgItem(box.hwnd, 0xFFFF));  // a message box's text control
    }
    return box;
  }
  // Answers a message box with a button (IDOK, IDYES, IDNO) and waits until it has gone.
  void Answer(const Box& box, int button) {
    PostMessageW(box.hwnd, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitFor([&] { return !IsWindow(box.hwnd) || !IsWindowVisible(box.hwnd); });
  }

  // The exit status once the program has ended; -1 when it is still running after `limit`.
  int ExitStatus(std::chrono::milliseconds limit = 120000ms) {
    if (WaitForSingleObject(pi_.hProcess, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
      return -1;
    }
    DWORD code = 0;
    GetExitCodeProcess(pi_.hProcess, &code);
    return static_cast<int>(code);
  }

 private:
  bool ok_ = false;
  PROCESS_INFORMATION pi_{};
  HWND hwnd_ = nullptr;
};

std::string Quote(const std::string& s) { return "\"" + s + "\""; }

class Win32ViewTest : public ::testing::Test {
 protected:
  void SetUp() override { home = dir / "home"; }
  test::TempDir dir;
  std::string home;
};

TEST_F(Win32ViewTest, ComesUpTitledWithEveryControlAndKeepsTheSettingsOnClose) {
  {
    Program p(home, "");
    ASSERT_TRUE(p.started());
    HWND w = p.Window();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(TextOf(w),
              "Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer");
    const std::vector<std::pair<int, const char*>> captions = {
        {kIdCmdStart, "&Start"},
        {kIdCmdSave, "Save Settings as Preset"},
        {kIdCmdRevert, "Revert All Changes"},
        {kIdCmdReadme, "Read Me First"},
        {kIdCmdAbout, "About"},
        {kIdCmdMessBrowse, "Browse"},
        {kIdCmdDkBrowse, "Browse"},
        {kIdCommand1, "Browse"},
        {kIdFrmPreset, "Load Exsisting Preset"},
        {kIdLabel10, "ONLY"},
        {kIdLStatus, "Status: Ready"},
        {kIdCmbHName, "For a Non-Mess System Type it in"},
        {kIdChkCvtRoms, "Convert Roms to Good Names"},
        {kIdChkRehash, "Rehash all files"},
        {kIdChkVerify, "Verify zip contents"},
    };
    for (const auto& [id, caption] : captions) EXPECT_EQ(p.Text(id), caption) << id;
    for (int id : {kIdChkMakeCfg, kIdChkRomAdd, kIdChkArtwork, kIdChkVdirAdd, kIdChkDatAdd}) {
      EXPECT_TRUE(p.Checked(id)) << id;
    }
    EXPECT_FALSE(p.Checked(kIdChkCvtRoms));
    EXPECT_FALSE(p.Checked(kIdChkRehash));
    EXPECT_FALSE(p.Checked(kIdChkVerify));
    {
      // "Rehash all files" sits in the commands' row, between Revert and Read Me First.
      RECT revert{}, rehash{}, readme{};
      GetWindowRect(p.Item(kIdCmdRevert), &revert);
      GetWindowRect(p.Item(kIdChkRehash), &rehash);
      GetWindowRect(p.Item(kIdCmdReadme), &readme);
      EXPECT_GE(rehash.left, revert.right);
      EXPECT_LE(rehash.right, readme.left);
      EXPECT_GE(rehash.top, revert.top);
      EXPECT_LE(rehash.bottom, revert.bottom);
    }
    // At most four typed characters in the extension.
    SendMessageW(p.Item(kIdTxtExtension), WM_CHAR, L'.', 0);
    for (wchar_t c : std::wstring(L"nesx")) SendMessageW(p.Item(kIdTxtExtension), WM_CHAR, c, 0);
    EXPECT_EQ(p.Text(kIdTxtExtension), ".nes");
    p.SetText(kIdTxtRom, "C:\\my roms \xC3\xA9\xE2\x82\xAC");  // outside the ANSI code page
    p.SetText(kIdCmbHName, "gameboy");
    PostMessageW(p.Item(kIdChkDatAdd), BM_CLICK, 0, 0);
    ASSERT_TRUE(WaitFor([&] { return !p.Checked(kIdChkDatAdd); }));
    PostMessageW(p.Item(kIdChkRehash), BM_CLICK, 0, 0);  // not a setting: not kept
    ASSERT_TRUE(WaitFor([&] { return p.Checked(kIdChkRehash); }));
    p.Close();
    EXPECT_EQ(p.ExitStatus(), 0);
  }
  Program again(home, "");
  ASSERT_NE(again.Window(), nullptr);
  EXPECT_TRUE(WaitFor([&] { return again.Text(kIdTxtRom) == "C:\\my roms \xC3\xA9\xE2\x82\xAC"; }));
  EXPECT_EQ(again.Text(kIdCmbHName), "gameboy");
  EXPECT_FALSE(again.Checked(kIdChkDatAdd));
  EXPECT_FALSE(again.Checked(kIdChkRehash));
  EXPECT_EQ(again.Text(kIdCmbPresets), "");
  EXPECT_EQ(SendMessageW(again.Item(kIdCmbPresets), CB_GETCOUNT, 0, 0), 1);  // "lastused"
  again.Close();
  EXPECT_EQ(again.ExitStatus(), 0);
}

DWORD GetProcessIdOfWindow(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

TEST_F(Win32ViewTest, MessagesReadMeAndAboutAreTheSystemsBoxesOverAWindowThatTakesInputAgain) {
  Program p(home, "");
  ASSERT_NE(p.Window(), nullptr);
  p.Press(kIdCmdStart);
  Box box = p.NextBox();
  ASSERT_NE(box.hwnd, nullptr);
  EXPECT_EQ(box.title, "Data Missing");
  EXPECT_EQ(box.text, "Rom Paths is a required Field, Fill it out Please");
  p.Answer(box, IDOK);
  EXPECT_TRUE(WaitFor([&] { return p.Enabled(kIdCmdStart) && p.Enabled(kIdTxtRom); }));

  // No readme.txt beside the build's program nor in the program folder: says where it looked.
  p.Press(kIdCmdReadme);
  Box readme = p.NextBox();
  ASSERT_NE(readme.hwnd, nullptr);
  EXPECT_EQ(readme.title, "Not Found");
  EXPECT_TRUE(test::Contains(readme.text, "readme.txt")) << readme.text;
  p.Answer(readme, IDOK);

  // The about box: one window, not modal, closed by its Ok.
  p.Press(kIdCmdAbout);
  p.Press(kIdCmdAbout);
  std::vector<HWND> about;
  ASSERT_TRUE(WaitFor([&] {
    about = WindowsOf(GetProcessIdOfWindow(p.Window()), L"QuorvinAboutBox");
    return !about.empty();
  }));
  std::this_thread::sleep_for(200ms);
  about = WindowsOf(GetProcessIdOfWindow(p.Window()), L"QuorvinAboutBox");
  ASSERT_EQ(about.size(), 1u);
  EXPECT_EQ(TextOf(about[0]), "About");
  HWND ok = GetDlgItem(about[0], IDOK);
  EXPECT_EQ(TextOf(ok), "Ok");
  EXPECT_TRUE(p.Enabled(kIdCmdStart));  // not modal
  PostMessageW(ok, BM_CLICK, 0, 0);
  EXPECT_TRUE(WaitFor([&] { return !IsWindow(about[0]); }));
  p.Close();
  EXPECT_EQ(p.ExitStatus(), 0);
}

// A run from the fields: inputs disabled while it goes, the status line at the end; then a
// close during a run asks, "No" goes on, "Yes" stops after the file in hand and closes.
TEST_F(Win32ViewTest, RunsFromItsFieldsAndAClosingDuringARunAsksFirst) {
  const std::string roms = dir / "roms";
  ASSERT_TRUE(CreateDirectoryW(Widen(roms).c_str(), nullptr));
  for (int i = 0; i < 2500; ++i)
    test::WriteFile(JoinPath(roms, "g" + std::to_string(i) + ".nes"), "x");
  Program p(home, "");
  ASSERT_NE(p.Window(), nullptr);
  p.SetText(kIdTxtRom, roms);
  p.SetText(kIdTxtExtension, "nes");
  p.SetText(kIdCmbHName, "nes");
  p.SetText(kIdTxtOutput, dir / "out.dat");
  for (int id : {kIdChkMakeCfg, kIdChkRomAdd, kIdChkArtwork, kIdChkVdirAdd, kIdChkDatAdd}) {
    PostMessageW(p.Item(id), BM_CLICK, 0, 0);
  }
  ASSERT_TRUE(WaitFor([&] { return !p.Checked(kIdChkDatAdd); }));
  p.Press(kIdCmdStart);
  // The inputs are disabled one after another, the Start button among the first.
  ASSERT_TRUE(WaitFor([&] {
    for (int id :
         {kIdCmdStart, kIdTxtRom, kIdCmbPresets, kIdChkCvtRoms, kIdChkRehash, kIdChkVerify}) {
      if (p.Enabled(id)) return false;
    }
    return true;
  }));
  ASSERT_TRUE(WaitFor([&] { return p.Enabled(kIdCmdStart); }, 120000ms));
  EXPECT_EQ(p.Text(kIdLStatus), "Status:  Done");
  EXPECT_EQ(p.Text(kIdTxtExtension), ".nes");  // completed by the run
  EXPECT_TRUE(test::Contains(test::ReadFile(dir / "out.dat"), "g2499"));

  p.Press(kIdCmdStart);
  ASSERT_TRUE(WaitFor([&] { return !p.Enabled(kIdCmdStart); }));
  p.Close();
  Box ask = p.NextBox();
  ASSERT_NE(ask.hwnd, nullptr);
  EXPECT_EQ(ask.title, "Quorvin");
  EXPECT_TRUE(test::Contains(ask.text, "Stop it after the file in hand")) << ask.text;
  p.Answer(ask, IDNO);
  EXPECT_NE(p.ExitStatus(200ms), 0);  // still running
  // Closing again: while the run goes the question comes again, and "Yes" stops it after the
  // file in hand; a run that ended meanwhile makes it an ordinary close.
  p.Close();
  ASSERT_TRUE(WaitFor([&] {
    if (p.ExitStatus(0ms) != -1) return true;
    Box again = p.NextBox(0ms);
    if (again.hwnd == nullptr) return false;
    EXPECT_EQ(again.title, "Quorvin");
    p.Answer(again, IDYES);
    return true;
  }));
  EXPECT_EQ(p.ExitStatus(), 0);
  EXPECT_FALSE(test::Contains(test::ReadFile(dir / "out.dat"), ".tmp"));
}

// Started with a command line: shows itself, runs, ends with the run's status, and writes
// the dat quorvin-cli.exe writes. A malformed one is a message and status 2.
TEST_F(Win32ViewTest, ACommandLineRunEndsByItselfWithTheSameDatAsTheHeadlessProgram) {
  const std::string roms = JoinPath(QUORVIN_EXAMPLES, "roms\\nes");
  auto list = [&](const std::string& out) {
    return Quote("|" + roms + "|nes|nes|||0||" + out + "||0|0|0|0|0");
  };
  Program p(home, list(dir / "window.dat"));
  ASSERT_TRUE(p.started());
  EXPECT_EQ(p.ExitStatus(), 0);
  std::string output;
  const int cli = test::RunCommand(test::WithEnvironment("QUORVIN_HOME", dir / "cli home") +
                                       test::ShellQuote(QUORVIN_CLI) + " " + list(dir / "cli.dat"),
                                   &output);
  ASSERT_EQ(cli, 0) << output;
  const std::string window_dat = test::ReadFile(dir / "window.dat");
  EXPECT_TRUE(test::Contains(window_dat, "game ("));
  EXPECT_EQ(window_dat, test::ReadFile(dir / "cli.dat"));

  Program bad(home, Quote("|only|three"));
  Box box = bad.NextBox();
  ASSERT_NE(box.hwnd, nullptr);
  EXPECT_TRUE(test::Contains(box.text, "15")) << box.text;
  bad.Answer(box, IDOK);
  EXPECT_EQ(bad.ExitStatus(), 2);
}

}  // namespace
}  // namespace quorvin::win32
