#include "window/window_model.h"

#include <algorithm>

#include "platform/fileops.h"
#include "platform/path.h"
#include "platform/text.h"

namespace quorvin::window {

namespace {

constexpr size_t kMaxWarningsInTip = 30;

std::string& MutableTextOf(RunSettings& s, TextField f) {
  switch (f) {
    case TextField::kMessPath:
      return s.txtMessPath;
    case TextField::kRom:
      return s.txtRom;
    case TextField::kExtension:
      return s.txtExtension;
    case TextField::kSystem:
      return s.cmbHName.text;
    case TextField::kDesc:
      return s.txtDesc;
    case TextField::kAuthor:
      return s.txtAuthor;
    case TextField::kRenamePaths:
      return s.txtRenamePaths;
    case TextField::kOutput:
      return s.txtOutput;
    case TextField::kDkPath:
      return s.txtDkPath;
  }
  return s.txtRom;  // not reached: every field is named above
}

int& MutableCheckOf(RunSettings& s, CheckField f) {
  switch (f) {
    case CheckField::kCvtRoms:
      return s.chkCvtRoms;
    case CheckField::kVerify:
      return s.chkVerify;
    case CheckField::kMakeCfg:
      return s.chkMakeCfg;
    case CheckField::kRomAdd:
      return s.chkRomAdd;
    case CheckField::kArtwork:
      return s.chkArtwork;
    case CheckField::kVdirAdd:
      return s.chkVdirAdd;
    case CheckField::kDatAdd:
      return s.chkDatAdd;
  }
  return s.chkCvtRoms;  // not reached
}

}  // namespace

const std::string& TextOf(const RunSettings& s, TextField f) {
  return MutableTextOf(const_cast<RunSettings&>(s), f);
}

bool CheckOf(const RunSettings& s, CheckField f) {
  return MutableCheckOf(const_cast<RunSettings&>(s), f) == 1;
}

// The model's Reporter. Every call may come from the worker thread; nothing of the view is
// touched there:
//  - status texts and progress are kept here under a lock, and the view hears StatusChanged
//    on its own thread; a burst of changes costs one notification, which shows the latest;
//  - a message is handed to the view's thread, and the worker waits for the OK, as the run
//    would wait for a box of its own;
//  - StopRequested answers a flag that the model sets when the user confirms closing.
// Calls made on the view's thread itself take effect at once.
class WindowModel::ModelReporter : public Reporter {
 public:
  explicit ModelReporter(WindowModel& model) : model_(model) {}

  void SetStatus(std::string_view text) override {
    Sync();
    {
      std::lock_guard<std::mutex> lock(mu_);
      view_.status = std::string(text);
    }
    Changed();
  }
  void SetFileStatus(std::string_view text, size_t done, size_t total) override {
    Sync();
    {
      std::lock_guard<std::mutex> lock(mu_);
      view_.status = std::string(text);
      files_done_ = done;
      files_total_ = total;
      bytes_done_ = 0;
      bytes_total_ = 0;
      has_bytes_ = false;
      UpdateBar();
    }
    Changed();
  }
  void SetFileBytes(uint64_t done, uint64_t total) override {
    Sync();
    {
      std::lock_guard<std::mutex> lock(mu_);
      bytes_done_ = done;
      bytes_total_ = total;
      has_bytes_ = true;
      UpdateBar();
    }
    Changed();
  }
  void Warning(std::string_view text) override {
    Sync();
    {
      std::lock_guard<std::mutex> lock(mu_);
      warnings_.emplace_back(text);
      view_.status = "Warning: " + std::string(text);
    }
    Changed();
  }
  void Message(std::string_view title, std::string_view text) override {
    std::string t(title), x(text);
    if (model_.OnViewThread()) {
      model_.view_.ShowMessage(t, x);
      return;
    }
    Sync();
    RunOnViewAndWait([this, t, x] { model_.view_.ShowMessage(t, x); });
  }
  bool StopRequested() override { return stop_.load(std::memory_order_relaxed); }

  void RequestStop() { stop_.store(true, std::memory_order_relaxed); }
  // Before a command: no stop asked, no warnings, no progress, no tip.
  void BeginCommand() {
    stop_.store(false, std::memory_order_relaxed);
    std::lock_guard<std::mutex> lock(mu_);
    sync_ = nullptr;
    sync_waiting_.store(false);
    warnings_.clear();
    files_done_ = files_total_ = 0;
    bytes_done_ = bytes_total_ = 0;
    has_bytes_ = false;
    view_.bar_shown = false;
    view_.bar_busy = false;
    view_.bar_permille = 0;
    view_.bar_text.clear();
    view_.tip.clear();
  }
  // After a command: the bar goes; the tip and the status line may change.
  void EndCommand(std::optional<std::string> status, std::string tip) {
    {
      std::lock_guard<std::mutex> lock(mu_);
      view_.bar_shown = false;
      view_.tip = std::move(tip);
      if (status) view_.status = std::move(*status);
    }
    Changed();
  }
  // The next call from the worker first runs `job` on the view's thread and waits for it, so
  // that the view can draw what the command holds while it stands still (a command-line start
  // shows the settings it loaded before the run goes on).
  void SyncOnce(std::function<void()> job) {
    std::lock_guard<std::mutex> lock(mu_);
    sync_ = std::move(job);
    sync_waiting_.store(sync_ != nullptr);
  }
  // The model is going away: a worker waiting for a message's OK goes on at once, and later
  // messages and notifications are dropped.
  void Abandon() {
    std::lock_guard<std::mutex> lock(mu_);
    abandoned_ = true;
    answered_.notify_all();
  }
  // True when something changed since the last call.
  bool TakeChange() { return dirty_.exchange(false); }
  StatusView view() const {
    std::lock_guard<std::mutex> lock(mu_);
    return view_;
  }
  std::string status() const {
    std::lock_guard<std::mutex> lock(mu_);
    return view_.status;
  }
  std::vector<std::string> warnings() const {
    std::lock_guard<std::mutex> lock(mu_);
    return warnings_;
  }

 private:
  // With mu_ held: the progress bar from the counts. The file in hand counts by its bytes
  // when they are known, so that one huge file moves the bar.
  void UpdateBar() {
    view_.bar_shown = true;
    if (files_total_ == 0) {
      view_.bar_busy = true;
      view_.bar_text.clear();
      return;
    }
    view_.bar_busy = false;
    double part = 0;
    if (has_bytes_ && bytes_total_ > 0) {
      part = std::min(1.0, static_cast<double>(bytes_done_) / static_cast<double>(bytes_total_));
    }
    const double whole =
        (static_cast<double>(files_done_) + part) / static_cast<double>(files_total_);
    view_.bar_permille = std::clamp(static_cast<int>(whole * 1000.0), 0, 1000);
    view_.bar_text = std::to_string(files_done_) + " of " + std::to_string(files_total_) + " files";
    if (has_bytes_) view_.bar_text += ", " + ByteProgressText(bytes_done_, bytes_total_);
  }

  // A call on the view's thread shows at once; one from the worker is taken by the view's
  // poll, so that 20,000 per-file updates cost one repaint per tick.
  void Changed() {
    if (model_.OnViewThread()) {
      dirty_.store(false);
      model_.StatusChangedOnView();
      return;
    }
    dirty_.store(true);
  }

  void RunOnViewAndWait(std::function<void()> job) {
    unsigned long long ticket;
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (abandoned_) return;
      ticket = ++jobs_posted_;
    }
    model_.view_.Post([this, job = std::move(job), ticket] {
      job();
      std::lock_guard<std::mutex> lock(mu_);
      jobs_done_ = std::max(jobs_done_, ticket);
      answered_.notify_all();
    });
    std::unique_lock<std::mutex> lock(mu_);
    answered_.wait(lock, [&] { return abandoned_ || jobs_done_ >= ticket; });
  }

  void Sync() {
    if (!sync_waiting_.load() || model_.OnViewThread()) return;
    std::function<void()> job;
    {
      std::lock_guard<std::mutex> lock(mu_);
      job = std::move(sync_);
      sync_ = nullptr;
      sync_waiting_.store(false);
    }
    if (job) RunOnViewAndWait(std::move(job));
  }

  WindowModel& model_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> sync_waiting_{false};
  std::atomic<bool> dirty_{false};

  mutable std::mutex mu_;
  std::condition_variable answered_;
  std::function<void()> sync_;
  StatusView view_;
  size_t files_done_ = 0;
  size_t files_total_ = 0;
  uint64_t bytes_done_ = 0;
  uint64_t bytes_total_ = 0;
  bool has_bytes_ = false;
  std::vector<std::string> warnings_;
  bool abandoned_ = false;
  unsigned long long jobs_posted_ = 0;
  unsigned long long jobs_done_ = 0;
};

WindowModel::WindowModel(std::string program_folder, ViewPort& view)
    : view_(view),
      view_thread_(std::this_thread::get_id()),
      reporter_(std::make_unique<ModelReporter>(*this)),
      runner_(std::move(program_folder), *reporter_) {}

WindowModel::~WindowModel() {
  // No rename is cut in half: the run stops after the file in hand, and is waited for.
  if (worker_.joinable()) {
    reporter_->RequestStop();
    reporter_->Abandon();
    worker_.join();
  }
}

bool WindowModel::OnViewThread() const { return std::this_thread::get_id() == view_thread_; }

// ---- Start-up ----

void WindowModel::StartInteractive() {
  exit_status_ = kExitDone;
  ::quorvin::StartInteractive(runner_);
  view_.SettingsChanged();
  view_.PresetsChanged();
}

void WindowModel::StartCommandLine(const std::vector<std::string>& args) {
  exit_status_ = kExitStopped;
  // Read as the headless program reads it; a malformed one is refused before anything is
  // read or written, and ends the program as a usage error.
  auto command_line = ParseCommandLine(args);
  if (!command_line.ok()) {
    runner_.SilentMode = true;
    Message(command_line.status().Title(), command_line.status().message());
    exit_status_ = kExitUsage;
    view_.ProgramEnds(exit_status_);
    return;
  }
  RunCommand(Command::kCommandLine, std::move(command_line).value());
}

// ---- Fields ----

void WindowModel::SetText(TextField field, std::string value) {
  if (running_) return;
  std::string& current = MutableTextOf(runner_.settings, field);
  // A view that draws a field fires its own change event: the same value changes nothing.
  if (current == value) return;
  current = std::move(value);
  if (field == TextField::kSystem) {
    runner_.settings.cmbHName.selected.reset();
  } else if (field == TextField::kMessPath) {
    runner_.RefillSystemList();
    view_.SystemListChanged();
  }
}

void WindowModel::SetCheck(CheckField field, bool set) {
  if (running_) return;
  MutableCheckOf(runner_.settings, field) = set ? 1 : 0;
}

void WindowModel::SetRehash(bool set) {
  if (running_) return;
  runner_.Rehash = set;
}

void WindowModel::ChooseSystem(size_t index) {
  if (running_) return;
  SystemBox& box = runner_.settings.cmbHName;
  if (index >= box.list.size()) return;
  box.selected = index;
  box.text = box.list[index];
}

void WindowModel::BrowseMess() {
  if (running_) return;
  std::string chosen =
      view_.PickFolder(runner_.settings.txtMessPath, std::string(kMessPickerTitle));
  if (chosen.empty()) return;
  SetText(TextField::kMessPath, WithTrailingSep(chosen));
  view_.SettingsChanged();
}

void WindowModel::BrowseDk() {
  if (running_) return;
  std::string chosen = view_.PickFolder(runner_.settings.txtDkPath, std::string(kDkPickerTitle));
  if (chosen.empty()) return;
  SetText(TextField::kDkPath, std::move(chosen));
  view_.SettingsChanged();
}

void WindowModel::BrowseOutput() {
  if (running_) return;
  std::string chosen = view_.PickSaveFile(runner_.settings.txtOutput);
  if (chosen.empty()) return;
  // The filter offers dat files only; a name typed without the extension is one.
  const std::string_view name = FileNameOf(chosen);
  if (name.find('.') == std::string_view::npos) chosen += ".dat";
  SetText(TextField::kOutput, std::move(chosen));
  view_.SettingsChanged();
}

// ---- Presets ----

void WindowModel::FillPresets() { view_.PresetsChanged(); }

void WindowModel::PickPreset(size_t index) {
  if (running_ || index >= runner_.presets.size()) return;
  const std::string name = runner_.presets[index];
  Status s = runner_.LoadPreset(name);
  if (s.ok()) {
    view_.SettingsChanged();
  } else if (s.kind() != ErrorKind::kNotFound) {
    // A preset removed since the list was filled loads nothing; a damaged one says so.
    Message(s.Title(), s.message());
  }
}

void WindowModel::SavePreset() {
  if (running_) return;
  (void)runner_.SaveSettingsAsPreset();  // a failure has been shown
  FillPresets();
}

// ---- Commands ----

void WindowModel::Start() { RunCommand(Command::kStart); }
void WindowModel::Revert() { RunCommand(Command::kRevert); }

void WindowModel::RunCommand(Command command, CommandLine command_line) {
  if (running_) return;
  reporter_->BeginCommand();
  running_ = true;
  view_.RunningChanged();
  view_.StatusChanged();
  // When the command first reports, its settings are loaded and completed: show them while
  // it waits (a command-line start loads them on the worker).
  reporter_->SyncOnce([this] { view_.SettingsChanged(); });
  worker_ = std::thread([this, command, line = std::move(command_line)] {
    Status s;
    switch (command) {
      case Command::kStart:
        s = runner_.StartCommand();
        break;
      case Command::kRevert:
        s = runner_.RevertCommand();
        break;
      case Command::kCommandLine:
        s = RunCommandLine(runner_, line, false);
        break;
    }
    view_.Post([this, s] { CommandFinished(s); });
  });
}

void WindowModel::CommandFinished(const Status& status) {
  if (worker_.joinable()) worker_.join();
  running_ = false;

  const std::vector<std::string> warnings = reporter_->warnings();
  std::optional<std::string> final_status;
  std::string tip;
  if (!warnings.empty()) {
    tip = "Warnings of the last command:";
    for (size_t i = 0; i < warnings.size() && i < kMaxWarningsInTip; ++i) {
      tip += "\n- " + warnings[i];
    }
    if (warnings.size() > kMaxWarningsInTip) {
      tip += "\n... and " + std::to_string(warnings.size() - kMaxWarningsInTip) + " more";
    }
    if (status.ok()) {
      std::string last = reporter_->status();
      if (last.starts_with("Warning: ")) last.clear();
      final_status = (last.empty() ? std::string("Status:  Done") : last) + " (completed with " +
                     std::to_string(warnings.size()) + " warning" +
                     (warnings.size() == 1 ? "" : "s") + "; point here to read them)";
    }
  }
  reporter_->EndCommand(std::move(final_status), std::move(tip));
  // A run completes some settings (extension dot, output, description, author): show them.
  view_.SettingsChanged();
  FillPresets();
  view_.RunningChanged();
  view_.CommandFinished();

  if (close_pending_) {
    // The user closed the window during the run and said yes: the run has stopped at a file
    // boundary; now the session ends as a close always does.
    close_pending_ = false;
    if (runner_.SilentMode) exit_status_ = ExitStatusOf(status, runner_.warnings());
    view_.CloseNow();
    return;
  }
  if (runner_.SilentMode && !IsDataMissing(status)) {
    exit_status_ = ExitStatusOf(status, runner_.warnings());
    view_.ProgramEnds(exit_status_);
  }
}

void WindowModel::OpenReadme(const std::vector<std::string>& candidates) {
  for (const std::string& path : candidates) {
    if (IsFile(path)) {
      if (!view_.OpenFile(path)) Message("Read Me First", "No program is set up to open " + path);
      return;
    }
  }
  std::string where;
  for (const std::string& path : candidates) where += "\n" + path;
  Message("Not Found", "The read-me file is in none of these places:" + where);
}

void WindowModel::About() { view_.ShowAbout(); }

bool WindowModel::RequestClose() {
  if (running_) {
    if (close_pending_) return false;
    if (!view_.Confirm(std::string(kCloseTitle), std::string(kCloseQuestion))) return false;
    // The question's own message loop may have seen the run end while it was asked: then
    // nothing is left to stop and nobody would call CloseNow, so the window closes now.
    if (running_) {
      close_pending_ = true;
      reporter_->RequestStop();
      reporter_->SetStatus("Status:  Stopping after the file in hand...");
      return false;
    }
  }
  Status s = ShutDown(runner_);
  if (!s.ok()) {
    Message(s.Title(), "The settings could not be kept for the next start: " + s.message());
  }
  return true;
}

// ---- What the view shows ----

StatusView WindowModel::status_view() const { return reporter_->view(); }

void WindowModel::PollStatus() {
  if (reporter_->TakeChange()) view_.StatusChanged();
}

std::vector<std::string> WindowModel::warnings() const { return reporter_->warnings(); }

void WindowModel::Message(const std::string& title, const std::string& text) {
  view_.ShowMessage(title, text);
}

void WindowModel::StatusChangedOnView() { view_.StatusChanged(); }

}  // namespace quorvin::window
