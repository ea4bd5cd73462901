#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/status.h"
#include "run/runner.h"
#include "run/startup.h"
#include "settings/settings.h"
#include "ui/window_reporter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvin::ui {

class AboutBox;

// The main window (`Form1`): every setting of a run in its controls, the preset list, the
// commands, and the status line with a progress bar. It owns one Runner and does nothing the
// Runner does not do: a command copies the controls into the Runner's settings, runs on a
// worker thread while every input is disabled, and copies the settings back (a run completes
// some of them) when it ends.
//
// Every control carries its name as its object name (`txtMessPath`, `cmdStart`, `lStatus`,
// ...), so that tests find them.
class MainWindow : public QWidget {
  Q_OBJECT

 public:
  // How the window asks the user things. Replaceable, so that tests can answer without a
  // modal box. The defaults show the platform's dialogs.
  using MessageFunction = std::function<void(const QString& title, const QString& text)>;
  using ConfirmFunction = std::function<bool(const QString& title, const QString& text)>;
  using FolderFunction = std::function<QString(const QString& initial, const QString& title)>;
  using FileFunction = std::function<QString(const QString& initial)>;
  using OpenFunction = std::function<bool(const QString& path)>;

  // `program_folder` holds presets/, conversions/, tempdat.dat and default.dat.
  explicit MainWindow(std::string program_folder, QWidget* parent = nullptr);
  ~MainWindow() override;

  // Start-up without a command line: the preset list, then the "lastused" settings.
  void StartInteractive();
  // Start-up with a command line (the program's arguments, read as quorvin-cli reads them):
  // runs at once. When the run completes, or stops for any reason but an empty required
  // field, the window emits programEnds with the exit status; after a "Data Missing" stop it
  // stays open, and the next run that ends ends the program. A malformed command line is
  // shown and ends the program at once (exit status 2).
  void StartCommandLine(const QStringList& arguments);
  // The same with the arguments as bytes, as the program was given them.
  void StartCommandLineArgs(const std::vector<std::string>& args);

  // The exit status of the program so far: 0 for a session started without a command line;
  // for one started with a command line, that of the run that ended it (1 until one has).
  int exit_status() const { return exit_status_; }
  bool running() const { return running_; }

  void SetMessageFunction(MessageFunction f) { show_message_ = std::move(f); }
  void SetConfirmFunction(ConfirmFunction f) { confirm_ = std::move(f); }
  void SetFolderFunction(FolderFunction f) { pick_folder_ = std::move(f); }
  void SetFileFunction(FileFunction f) { pick_file_ = std::move(f); }
  void SetOpenFunction(OpenFunction f) { open_file_ = std::move(f); }

  // Where Read Me First looks for readme.txt, in order: beside the program, in the program
  // folder, then the installed copy (relative to the program, then the build's prefix).
  QStringList ReadmeCandidates() const;

 signals:
  // A Start or Revert command has ended and the window takes input again.
  void commandFinished();
  // A command-line start has ended its run: the program should end with this status.
  void programEnds(int exit_status);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  enum class Command { kStart, kRevert, kCommandLine };

  void BuildControls();
  RunSettings ReadControls() const;
  void WriteControls(const RunSettings& s);
  void FillSystemList(const SystemBox& box);
  void FillPresetList();
  void SetInputsEnabled(bool enabled);

  void ShowMessage(const QString& title, const QString& text);
  void ShowStatus(const QString& text);
  void TakeReporterView();

  void RunCommand(Command command, CommandLine command_line = CommandLine());
  void CommandFinished(const Status& status);
  bool SaveLastUsed();

  void OnMessPathEdited();
  void OnPresetPicked(int index);
  void OnSave();
  void OnMessBrowse();
  void OnDkBrowse();
  void OnOutputBrowse();
  void OnReadme();
  void OnAbout();

  MessageFunction show_message_;
  ConfirmFunction confirm_;
  FolderFunction pick_folder_;
  FileFunction pick_file_;
  OpenFunction open_file_;

  WindowReporter reporter_;
  Runner runner_;
  std::thread worker_;
  bool running_ = false;
  bool close_pending_ = false;
  bool closing_ = false;
  bool updating_ = false;
  int exit_status_ = 0;
  QTimer poll_;
  QString status_text_;
  // The entry of the system list the user chose, until the box is typed into.
  std::optional<size_t> system_selected_;

  QLineEdit* txtMessPath_ = nullptr;
  QPushButton* cmdMessBrowse_ = nullptr;
  QComboBox* cmbPresets_ = nullptr;
  QLineEdit* txtRom_ = nullptr;
  QLineEdit* txtExtension_ = nullptr;
  QComboBox* cmbHName_ = nullptr;
  QLineEdit* txtDesc_ = nullptr;
  QLineEdit* txtAuthor_ = nullptr;
  QCheckBox* chkCvtRoms_ = nullptr;
  QCheckBox* chkVerify_ = nullptr;
  QLineEdit* txtRenamePaths_ = nullptr;
  QLineEdit* txtOutput_ = nullptr;
  QPushButton* command1_ = nullptr;
  QLineEdit* txtDkPath_ = nullptr;
  QPushButton* cmdDkBrowse_ = nullptr;
  QCheckBox* chkMakeCfg_ = nullptr;
  QCheckBox* chkRomAdd_ = nullptr;
  QCheckBox* chkArtwork_ = nullptr;
  QCheckBox* chkVdirAdd_ = nullptr;
  QCheckBox* chkDatAdd_ = nullptr;
  QPushButton* cmdStart_ = nullptr;
  QPushButton* cmdSave_ = nullptr;
  QPushButton* cmdRevert_ = nullptr;
  QCheckBox* chkRehash_ = nullptr;
  QPushButton* cmdReadme_ = nullptr;
  QPushButton* cmdAbout_ = nullptr;
  QLabel* lStatus_ = nullptr;
  QProgressBar* progress_ = nullptr;
  std::vector<QWidget*> inputs_;
  QPointer<AboutBox> about_;
};

// Qt's resources of the window (the icon) in a static library must be registered once.
void InitResources();

}  // namespace quorvin::ui
