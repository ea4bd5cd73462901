#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/reporter.h"
#include "platform/status.h"
#include "run/runner.h"
#include "run/startup.h"
#include "settings/settings.h"

// The main window without a toolkit: every field of a run and its value, the preset and
// system lists, which inputs take input, the commands and their messages, the run on a worker
// thread with its progress, stop and results, and the start with or without a command line.
// A view (Qt on Linux, Win32 on Windows) draws the fields, forwards what the user does to the
// model, and gives the model its dialogs and a way onto its thread; it decides nothing.
namespace quorvin::window {

// The text fields of the window, by the name of their control.
enum class TextField {
  kMessPath,     // txtMessPath
  kRom,          // txtRom
  kExtension,    // txtExtension
  kSystem,       // cmbHName (its text; the list is SystemBox::list)
  kDesc,         // txtDesc
  kAuthor,       // txtAuthor
  kRenamePaths,  // txtRenamePaths
  kOutput,       // txtOutput
  kDkPath,       // txtDkPath
};
// The check boxes.
enum class CheckField { kCvtRoms, kVerify, kMakeCfg, kRomAdd, kArtwork, kVdirAdd, kDatAdd };

inline constexpr TextField kTextFields[] = {
    TextField::kMessPath,    TextField::kRom,    TextField::kExtension,
    TextField::kSystem,      TextField::kDesc,   TextField::kAuthor,
    TextField::kRenamePaths, TextField::kOutput, TextField::kDkPath};
inline constexpr CheckField kCheckFields[] = {
    CheckField::kCvtRoms, CheckField::kVerify,  CheckField::kMakeCfg, CheckField::kRomAdd,
    CheckField::kArtwork, CheckField::kVdirAdd, CheckField::kDatAdd};

// The value of a field in a set of settings.
const std::string& TextOf(const RunSettings& s, TextField f);
bool CheckOf(const RunSettings& s, CheckField f);

// The longest extension the user may type; a preset may hold a longer one, which is shown.
inline constexpr size_t kExtensionMaxTyped = 4;

inline constexpr std::string_view kWindowTitle =
    "Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer";
inline constexpr std::string_view kReadyStatus = "Status: Ready";
inline constexpr std::string_view kMessPickerTitle = "Locate Folder Containing MESS";
inline constexpr std::string_view kDkPickerTitle = "Locate Folder Containing Dragon King";
// The save dialog's filters, display text and pattern: the clrmamepro text dat first, then
// the XML dat (a name ending in ".xml" is written in that format).
inline constexpr std::string_view kDatFilterText = "clrMamePro Dat Files (.dat)";
inline constexpr std::string_view kDatFilterPattern = "*.dat";
inline constexpr std::string_view kXmlFilterText = "XML Dat Files (.xml)";
inline constexpr std::string_view kXmlFilterPattern = "*.xml";
inline constexpr std::string_view kCloseTitle = "Quorvin";
inline constexpr std::string_view kCloseQuestion =
    "A command is still running. Stop it after the file in hand and close Quorvin?";

// How often a view polls the status of a running command, in milliseconds.
inline constexpr int kStatusPollMs = 50;

// What the status line and the progress bar show.
struct StatusView {
  std::string status{kReadyStatus};
  bool bar_shown = false;
  bool bar_busy = false;  // shown, with nothing to count: a moving "busy" bar
  int bar_permille = 0;   // 0 to 1000
  std::string bar_text;   // "3 of 10 files", "1 of 1 files, 2.1 of 8.0 GiB"
  std::string tip;        // the warnings of the last command, for a tool tip; empty: none
};

// What the model asks of its view. Post may be called from any thread; everything else is
// called on the view's thread (the thread that made the model).
class ViewPort {
 public:
  virtual ~ViewPort() = default;
  // Runs `job` soon on the view's thread (Qt: a queued call; Win32: PostMessageW). A job
  // posted to a view that is gone may be dropped.
  virtual void Post(std::function<void()> job) = 0;

  // A modal message with one OK button; returns when the user has answered it.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
  // A modal Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& title, const std::string& text) = 0;
  // The system's folder picker starting at `initial` (possibly empty or not a folder), titled
  // `title`. The chosen folder, or "" for cancel or a place with no path on disk.
  virtual std::string PickFolder(const std::string& initial, const std::string& title) = 0;
  // The save dialog for the output dat with kDatFilterText and kXmlFilterText; the chosen
  // path ("" for cancel), with ".xml" added to a name without an extension chosen under the
  // XML filter.
  virtual std::string PickSaveFile(const std::string& initial) = 0;
  // Opens a text file with the system's viewer; false when none could be started.
  virtual bool OpenFile(const std::string& path) = 0;
  // Shows the about box (not modal; one at a time).
  virtual void ShowAbout() = 0;

  // Every field must be drawn again from WindowModel::settings() (lists included).
  virtual void SettingsChanged() = 0;
  // The system list changed; the text of the system box stays as the user left it.
  virtual void SystemListChanged() = 0;
  // WindowModel::presets() changed (the preset box shows no entry chosen afterwards).
  virtual void PresetsChanged() = 0;
  // WindowModel::status_view() changed.
  virtual void StatusChanged() = 0;
  // WindowModel::inputs_enabled() and running() changed. While running() the view calls
  // WindowModel::PollStatus about every kStatusPollMs (a timer of its own).
  virtual void RunningChanged() = 0;
  // A Start or Revert command has ended and the window takes input again.
  virtual void CommandFinished() {}
  // A command-line start has ended its run: the program should end with this status.
  virtual void ProgramEnds(int exit_status) = 0;
  // A close the user asked for during a run may go ahead now: close the window (RequestClose
  // then answers true).
  virtual void CloseNow() = 0;
};

class WindowModel {
 public:
  // `program_folder` holds presets/, conversions/, tempdat.dat and default.dat. Made on the
  // view's thread; every member but the Reporter's calls is for that thread.
  WindowModel(std::string program_folder, ViewPort& view);
  // A run still going is asked to stop after the file in hand and waited for; a thread that
  // waits for a message's OK goes on at once.
  ~WindowModel();
  WindowModel(const WindowModel&) = delete;
  WindowModel& operator=(const WindowModel&) = delete;

  // ---- Start-up ----
  // Without a command line: the preset list, then the "lastused" settings.
  void StartInteractive();
  // With a command line (the program's arguments as bytes, read as quorvin-cli reads them):
  // runs at once. When the run completes, or stops for any reason but an empty required
  // field, the view hears ProgramEnds with the exit status; after a "Data Missing" stop the
  // window stays, and the next run that ends ends the program. A malformed command line is
  // shown and ends the program at once (exit status 2).
  void StartCommandLine(const std::vector<std::string>& args);

  // ---- Fields ----
  const RunSettings& settings() const { return runner_.settings; }
  // The user changed a field. The MESS folder refills the system list (SystemListChanged);
  // typing into the system box leaves no list entry chosen. Ignored during a run.
  void SetText(TextField field, std::string value);
  void SetCheck(CheckField field, bool set);
  // "Rehash all files": the next runs read every ROM file again rather than take its CRC from
  // the CRC cache. Not a setting of the run: presets and the last-used settings do not keep
  // it, and a new window starts with it cleared. Ignored during a run.
  bool rehash() const { return runner_.Rehash; }
  void SetRehash(bool set);
  // The user chose entry `index` of the system list: the box shows it.
  void ChooseSystem(size_t index);
  // The MESS Browse: the folder picker, and the chosen folder (with a separator at its end,
  // the user's habit; the run joins "crc" to it) into the field.
  void BrowseMess();
  // The Dragon King Browse.
  void BrowseDk();
  // The output file's Browse: the save dialog; a name without an extension gets ".dat".
  void BrowseOutput();

  // ---- Presets ----
  const std::vector<std::string>& presets() const { return runner_.presets; }
  // The user picked entry `index` of the preset list.
  void PickPreset(size_t index);
  // Save Settings as Preset.
  void SavePreset();

  // ---- Commands ----
  // Start and Revert: run on a worker thread; every input is disabled until they end.
  void Start();
  void Revert();
  // Read Me First: opens the first of `candidates` that is a file, or says where it looked.
  void OpenReadme(const std::vector<std::string>& candidates);
  void About();
  // The user closes the window. True: close now (the settings were saved as "lastused").
  // During a run: asks first; on yes the run stops after the file in hand and the view hears
  // CloseNow when it has; false either way. A run that ended while the question was asked
  // leaves nothing to wait for: a yes closes at once (true).
  bool RequestClose();

  // ---- What the view shows ----
  bool running() const { return running_; }
  bool inputs_enabled() const { return !running_; }
  StatusView status_view() const;
  // While a command runs, the view's timer calls this: StatusChanged when the worker changed
  // the status line or the progress since the last call.
  void PollStatus();
  // The warnings of the last command, in order.
  std::vector<std::string> warnings() const;
  // 0 for a session started without a command line; for one started with a command line,
  // that of the run that ended it (1 until one has).
  int exit_status() const { return exit_status_; }
  const std::string& program_folder() const { return runner_.program_folder(); }

 private:
  enum class Command { kStart, kRevert, kCommandLine };
  class ModelReporter;
  friend class ModelReporter;

  void RunCommand(Command command, CommandLine command_line = CommandLine());
  void CommandFinished(const Status& status);
  void Message(const std::string& title, const std::string& text);
  void FillPresets();
  void StatusChangedOnView();
  bool OnViewThread() const;

  ViewPort& view_;
  std::thread::id view_thread_;
  std::unique_ptr<ModelReporter> reporter_;
  Runner runner_;
  std::thread worker_;
  bool running_ = false;
  bool close_pending_ = false;
  int exit_status_ = 0;
};

}  // namespace quorvin::window
