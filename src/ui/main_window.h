#pragma once

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings.h"
#include "window/window_model.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace quorvin::ui {

class AboutBox;

// The main window (`Form1`), drawn with Qt Widgets over the toolkit-free window model: every
// setting of a run in its controls, the preset list, the commands, and the status line with
// a progress bar. It only draws the model, forwards what the user does to it, shows the
// dialogs the model asks for, and brings the model's notifications onto its thread (queued
// calls); the rules and the run live in window::WindowModel.
//
// Every control carries its name as its object name (`txtMessPath`, `cmdStart`, `lStatus`,
// ...), so that tests find them.
class MainWindow : public QWidget, private window::ViewPort {
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
  // Start-up with a command line (see window::WindowModel::StartCommandLine).
  void StartCommandLine(const QStringList& arguments);
  // The same with the arguments as bytes, as the program was given them.
  void StartCommandLineArgs(const std::vector<std::string>& args);

  int exit_status() const { return model_->exit_status(); }
  bool running() const { return model_->running(); }

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
  // window::ViewPort
  void Post(std::function<void()> job) override;
  void ShowMessage(const std::string& title, const std::string& text) override;
  bool Confirm(const std::string& title, const std::string& text) override;
  std::string PickFolder(const std::string& initial, const std::string& title) override;
  std::string PickSaveFile(const std::string& initial) override;
  bool OpenFile(const std::string& path) override;
  void ShowAbout() override;
  void SettingsChanged() override;
  void SystemListChanged() override;
  void PresetsChanged() override;
  void StatusChanged() override;
  void RunningChanged() override;
  void CommandFinished() override;
  void ProgramEnds(int exit_status) override;
  void CloseNow() override;

  void BuildControls();
  void FillSystemList(const SystemBox& box);
  void ShowStatus(const QString& text);

  MessageFunction show_message_;
  ConfirmFunction confirm_;
  FolderFunction pick_folder_;
  FileFunction pick_file_;
  OpenFunction open_file_;

  std::unique_ptr<window::WindowModel> model_;
  // Set while the controls are drawn from the model: their change events are echoes.
  bool updating_ = false;
  QString status_text_;
  QTimer poll_;  // the model's status while a command runs

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
  // The text boxes and check boxes, by the model's field they show.
  std::vector<std::pair<window::TextField, QLineEdit*>> text_boxes_;
  std::vector<std::pair<window::CheckField, QCheckBox*>> check_boxes_;
  QPointer<AboutBox> about_;
};

// Qt's resources of the window (the icon) in a static library must be registered once.
void InitResources();

}  // namespace quorvin::ui
