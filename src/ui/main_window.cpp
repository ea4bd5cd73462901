#include "ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <QStyleOptionGroupBox>
#include <QUrl>
#include <QVBoxLayout>

#include "run/startup.h"
#include "ui/about_box.h"
#include "ui/folder_picker.h"
#include "ui/qt_text.h"

// Outside every namespace: the macro declares the resource's function where it stands.
static void InitQuorvinResources() { Q_INIT_RESOURCE(resources); }
void quorvin::ui::InitResources() { InitQuorvinResources(); }

namespace quorvin::ui {

namespace {

constexpr int kStatusPollMs = 50;
constexpr int kMaxWarningsInTip = 30;

// The Dragon King frame. Its caption leaves a run of blanks between "Dragon King" and
// "Options", and a bold "ONLY" label sits on them, so that the caption reads in two weights
// whatever the style draws for a frame title.
class DkFrame : public QGroupBox {
 public:
  explicit DkFrame(QWidget* parent) : QGroupBox(parent) {
    setObjectName(QStringLiteral("frmDk"));
    only_ = new QLabel(QStringLiteral("ONLY"), this);
    only_->setObjectName(QStringLiteral("Label10"));
    UpdateCaption();
  }

 protected:
  void resizeEvent(QResizeEvent* event) override {
    QGroupBox::resizeEvent(event);
    PlaceOnly();
  }
  void changeEvent(QEvent* event) override {
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
      UpdateCaption();
    }
  }

 private:
  static constexpr const char* kBefore = "\"Magic\" Dragon King ";
  static constexpr const char* kAfter = "Options (If the path is left blank the rest are ignored)";

  void UpdateCaption() {
    QFont bold = font();
    bold.setBold(true);
    only_->setFont(bold);
    only_->adjustSize();
    // As many blanks as the bold word needs, with one blank's room on either side.
    const int blank = std::max(1, fontMetrics().horizontalAdvance(QLatin1Char(' ')));
    blanks_ = (only_->width() + blank - 1) / blank + 2;
    setTitle(QString::fromLatin1(kBefore) + QString(blanks_, QLatin1Char(' ')) +
             QString::fromLatin1(kAfter));
    PlaceOnly();
  }

  void PlaceOnly() {
    QStyleOptionGroupBox opt;
    initStyleOption(&opt);
    const QRect label =
        style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, this);
    const QFontMetrics fm = fontMetrics();
    const int start = label.left() + fm.horizontalAdvance(QString::fromLatin1(kBefore));
    const int run = fm.horizontalAdvance(QString(blanks_, QLatin1Char(' ')));
    only_->move(start + (run - only_->width()) / 2,
                label.top() + (label.height() - only_->height()) / 2);
    only_->raise();
  }

  QLabel* only_;
  int blanks_ = 17;
};

QLabel* MakeLabel(const char* name, const QString& text, QWidget* buddy) {
  auto* l = new QLabel(text);
  l->setObjectName(QString::fromLatin1(name));
  l->setBuddy(buddy);
  return l;
}

QLineEdit* MakeEdit(const char* name) {
  auto* e = new QLineEdit;
  e->setObjectName(QString::fromLatin1(name));
  e->setMinimumWidth(200);
  return e;
}

QPushButton* MakeButton(const char* name, const QString& text) {
  auto* b = new QPushButton(text);
  b->setObjectName(QString::fromLatin1(name));
  b->setAutoDefault(false);
  return b;
}

QCheckBox* MakeCheck(const char* name, const QString& text, bool set) {
  auto* c = new QCheckBox(text);
  c->setObjectName(QString::fromLatin1(name));
  c->setChecked(set);
  return c;
}

QGroupBox* MakeFrame(const char* name, const QString& title) {
  auto* f = new QGroupBox(title);
  f->setObjectName(QString::fromLatin1(name));
  return f;
}

}  // namespace

MainWindow::MainWindow(std::string program_folder, QWidget* parent)
    : QWidget(parent),
      reporter_(
          this, [this](const QString& title, const QString& text) { ShowMessage(title, text); },
          [this] { TakeReporterView(); }),
      runner_(std::move(program_folder), reporter_) {
  InitResources();
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral(
      "Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer"));
  setWindowIcon(QIcon(QStringLiteral(":/quorvin/quorvin-256.png")));

  show_message_ = [this](const QString& title, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, this);
    box.exec();
  };
  confirm_ = [this](const QString& title, const QString& text) {
    return QMessageBox::question(this, title, text, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  };
  pick_folder_ = [this](const QString& initial, const QString& title) {
    return PickFolder(initial, title, this);
  };
  pick_file_ = [this](const QString& initial) { return PickOutputFile(initial, this); };
  open_file_ = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };

  BuildControls();
  WriteControls(runner_.settings);
  poll_.setInterval(kStatusPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] { TakeReporterView(); });
}

MainWindow::~MainWindow() {
  // A run still going: ask it to stop at the next file, let a thread that waits for a
  // message go on, and wait for it, so that no rename is cut in half.
  if (worker_.joinable()) {
    reporter_.RequestStop();
    reporter_.Abandon();
    worker_.join();
  }
}

void MainWindow::BuildControls() {
  // MESS frame and preset frame, side by side.
  auto* fraMess = MakeFrame(
      "FraMess",
      QStringLiteral("Mess Injector Options (If the path is left Blank Mess Injection is bypassed)"));
  txtMessPath_ = MakeEdit("txtMessPath");
  cmdMessBrowse_ = MakeButton("cmdMessBrowse", QStringLiteral("Browse"));
  {
    auto* row = new QHBoxLayout(fraMess);
    row->addWidget(MakeLabel("Label9", QStringLiteral("Path to MESS"), txtMessPath_));
    row->addWidget(txtMessPath_, 1);
    row->addWidget(cmdMessBrowse_);
  }
  auto* frmPreset = MakeFrame("FrmPreset", QStringLiteral("Load Exsisting Preset"));
  cmbPresets_ = new QComboBox;
  cmbPresets_->setObjectName(QStringLiteral("cmbPresets"));
  cmbPresets_->setEditable(false);
  cmbPresets_->setMinimumContentsLength(16);
  cmbPresets_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  {
    auto* row = new QHBoxLayout(frmPreset);
    row->addWidget(cmbPresets_, 1);
  }

  // Dat file generation.
  auto* fraDatGen = MakeFrame("fraDatGen", QStringLiteral("Dat File Generation Options"));
  txtRom_ = MakeEdit("txtRom");
  txtExtension_ = MakeEdit("txtExtension");
  txtExtension_->setMaxLength(4);
  txtExtension_->setMinimumWidth(0);
  txtExtension_->setMaximumWidth(txtExtension_->fontMetrics().horizontalAdvance(QStringLiteral("MMMMM")) + 16);
  cmbHName_ = new QComboBox;
  cmbHName_->setObjectName(QStringLiteral("cmbHName"));
  cmbHName_->setEditable(true);
  cmbHName_->setInsertPolicy(QComboBox::NoInsert);
  cmbHName_->setCompleter(nullptr);
  cmbHName_->setMinimumContentsLength(20);
  cmbHName_->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
  txtDesc_ = MakeEdit("txtDesc");
  txtAuthor_ = MakeEdit("txtAuthor");
  {
    auto* grid = new QGridLayout(fraDatGen);
    grid->addWidget(MakeLabel("Label4", QStringLiteral("Rom Folder(s)"), txtRom_), 0, 0);
    grid->addWidget(txtRom_, 0, 1);
    grid->addWidget(MakeLabel("Label5", QStringLiteral("Extension"), txtExtension_), 1, 0);
    grid->addWidget(txtExtension_, 1, 1, Qt::AlignLeft);
    grid->addWidget(MakeLabel("Label6", QStringLiteral("Header Name"), cmbHName_), 2, 0);
    grid->addWidget(cmbHName_, 2, 1);
    grid->addWidget(MakeLabel("Label7", QStringLiteral("Header Desc"), txtDesc_), 3, 0);
    grid->addWidget(txtDesc_, 3, 1);
    grid->addWidget(MakeLabel("Label8", QStringLiteral("Author"), txtAuthor_), 4, 0);
    grid->addWidget(txtAuthor_, 4, 1);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(5, 1);
  }

  // Renaming, and the output file below it.
  auto* frmRenaming = MakeFrame("frmRenaming", QStringLiteral("Post Renaming Options"));
  chkCvtRoms_ = MakeCheck("chkCvtRoms", QStringLiteral("Convert Roms to Good Names"), false);
  chkVerify_ = MakeCheck("chkVerify", QStringLiteral("Verify zip contents"), false);
  chkVerify_->setToolTip(QStringLiteral(
      "With the extension zip: inflate every member and compare it with its stored CRC"));
  txtRenamePaths_ = MakeEdit("txtRenamePaths");
  {
    auto* col = new QVBoxLayout(frmRenaming);
    auto* checks = new QHBoxLayout;
    checks->addWidget(chkCvtRoms_);
    checks->addWidget(chkVerify_);
    checks->addStretch(1);
    col->addLayout(checks);
    auto* label1 = MakeLabel(
        "Label1",
        QStringLiteral("Add the Paths to any artwork files or misc. files you wish to be renamed "
                       "using Good Names below."),
        txtRenamePaths_);
    label1->setWordWrap(true);
    col->addWidget(label1);
    col->addWidget(txtRenamePaths_);
    col->addStretch(1);
  }
  txtOutput_ = MakeEdit("txtOutput");
  command1_ = MakeButton("Command1", QStringLiteral("Browse"));
  auto* outputRow = new QHBoxLayout;
  outputRow->addWidget(MakeLabel("Label3", QStringLiteral("Output File"), txtOutput_));
  outputRow->addWidget(txtOutput_, 1);
  outputRow->addWidget(command1_);

  // Dragon King.
  auto* frmDk = new DkFrame(nullptr);
  txtDkPath_ = MakeEdit("txtDkPath");
  cmdDkBrowse_ = MakeButton("cmdDkBrowse", QStringLiteral("Browse"));
  chkMakeCfg_ = MakeCheck("chkMakeCfg",
                          QStringLiteral("Make Config File And Fill out all Known Data (Must Have "
                                         "Template.cfg in the cfgs folder)"),
                          true);
  chkRomAdd_ =
      MakeCheck("chkRomAdd", QStringLiteral("Add Rom Paths to Dk if they are missing."), true);
  chkArtwork_ = MakeCheck("chkArtwork",
                          QStringLiteral("Add Artwork Paths to Dk if they are missing."), true);
  chkVdirAdd_ = MakeCheck(
      "chkVdirAdd",
      QStringLiteral("Add a Virtual Directory to Dk if one hasn't been built for this emulator."),
      true);
  chkDatAdd_ = MakeCheck(
      "chkDatAdd", QStringLiteral("Copy Output file to the List Generator/Dats folder."), true);
  {
    auto* grid = new QGridLayout(frmDk);
    grid->addWidget(MakeLabel("Label2", QStringLiteral("Path to Dk"), txtDkPath_), 0, 0);
    grid->addWidget(txtDkPath_, 0, 1);
    grid->addWidget(cmdDkBrowse_, 0, 2);
    int row = 1;
    for (QCheckBox* c : {chkMakeCfg_, chkRomAdd_, chkArtwork_, chkVdirAdd_, chkDatAdd_}) {
      grid->addWidget(c, row++, 0, 1, 3);
    }
    grid->setColumnStretch(1, 1);
  }

  // Commands and status.
  cmdStart_ = MakeButton("cmdStart", QStringLiteral("&Start"));
  cmdSave_ = MakeButton("cmdSave", QStringLiteral("Save Settings as Preset"));
  cmdRevert_ = MakeButton("cmdRevert", QStringLiteral("Revert All Changes"));
  cmdReadme_ = MakeButton("cmdReadme", QStringLiteral("Read Me First"));
  cmdAbout_ = MakeButton("cmdAbout", QStringLiteral("About"));
  cmdStart_->setMinimumWidth(cmdStart_->sizeHint().width() * 3 / 2);
  // Not a setting of the run: presets do not keep it, and it starts cleared.
  chkRehash_ = MakeCheck("chkRehash", QStringLiteral("Rehash all files"), false);
  chkRehash_->setToolTip(
      QStringLiteral("Read every ROM file again rather than take its CRC from the CRC cache"));
  lStatus_ = new QLabel(QStringLiteral("Status: Ready"));
  lStatus_->setObjectName(QStringLiteral("lStatus"));
  {
    QFont f = lStatus_->font();
    f.setPointSizeF(f.pointSizeF() * 14.25 / 9.0);
    lStatus_->setFont(f);
  }
  // Long file names must not widen the window: the label takes the room it is given.
  lStatus_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  lStatus_->setMinimumHeight(lStatus_->sizeHint().height());
  status_text_ = lStatus_->text();
  progress_ = new QProgressBar;
  progress_->setObjectName(QStringLiteral("progressBar"));
  progress_->setTextVisible(true);
  progress_->setMinimumWidth(180);
  QSizePolicy keep = progress_->sizePolicy();
  keep.setRetainSizeWhenHidden(true);
  progress_->setSizePolicy(keep);
  progress_->hide();

  auto* top = new QGridLayout;
  top->addWidget(fraMess, 0, 0);
  top->addWidget(frmPreset, 0, 1);
  top->addWidget(fraDatGen, 1, 0);
  auto* right = new QVBoxLayout;
  right->addWidget(frmRenaming, 1);
  right->addLayout(outputRow);
  top->addLayout(right, 1, 1);
  top->addWidget(frmDk, 2, 0, 1, 2);
  top->setColumnStretch(0, 1);
  top->setColumnStretch(1, 1);

  auto* commands = new QHBoxLayout;
  commands->addWidget(cmdStart_);
  commands->addWidget(cmdSave_);
  commands->addWidget(cmdRevert_);
  commands->addWidget(chkRehash_);
  commands->addStretch(1);
  commands->addWidget(cmdReadme_);
  commands->addWidget(cmdAbout_);

  auto* status = new QHBoxLayout;
  status->addWidget(lStatus_, 1);
  status->addWidget(progress_);

  auto* main = new QVBoxLayout(this);
  main->addLayout(top);
  main->addLayout(commands);
  main->addLayout(status);
  main->setSizeConstraint(QLayout::SetMinimumSize);

  inputs_ = {txtMessPath_, cmdMessBrowse_, cmbPresets_,  txtRom_,      txtExtension_, cmbHName_,
             txtDesc_,     txtAuthor_,     chkCvtRoms_,  chkVerify_, txtRenamePaths_, txtOutput_,  command1_,
             txtDkPath_,   cmdDkBrowse_,   chkMakeCfg_,  chkRomAdd_,   chkArtwork_,   chkVdirAdd_,
             chkDatAdd_,   cmdStart_,      cmdSave_,     cmdRevert_,   cmdReadme_,    cmdAbout_};
  inputs_.push_back(chkRehash_);

  connect(txtMessPath_, &QLineEdit::textChanged, this, [this] { OnMessPathEdited(); });
  connect(cmbHName_, &QComboBox::activated, this,
          [this](int index) { system_selected_ = static_cast<size_t>(index); });
  connect(cmbHName_->lineEdit(), &QLineEdit::textEdited, this,
          [this] { system_selected_.reset(); });
  connect(cmbPresets_, &QComboBox::activated, this, [this](int i) { OnPresetPicked(i); });
  connect(cmdStart_, &QPushButton::clicked, this, [this] { RunCommand(Command::kStart); });
  connect(cmdRevert_, &QPushButton::clicked, this, [this] { RunCommand(Command::kRevert); });
  connect(cmdSave_, &QPushButton::clicked, this, [this] { OnSave(); });
  connect(cmdMessBrowse_, &QPushButton::clicked, this, [this] { OnMessBrowse(); });
  connect(cmdDkBrowse_, &QPushButton::clicked, this, [this] { OnDkBrowse(); });
  connect(command1_, &QPushButton::clicked, this, [this] { OnOutputBrowse(); });
  connect(cmdReadme_, &QPushButton::clicked, this, [this] { OnReadme(); });
  connect(cmdAbout_, &QPushButton::clicked, this, [this] { OnAbout(); });
}

// ---- Controls and settings ----

RunSettings MainWindow::ReadControls() const {
  RunSettings s;
  s.txtMessPath = GetBytes(txtMessPath_);
  s.txtRom = GetBytes(txtRom_);
  s.txtExtension = GetBytes(txtExtension_);
  s.cmbHName.text = GetBytes(cmbHName_->lineEdit());
  for (int i = 0; i < cmbHName_->count(); ++i) s.cmbHName.list.push_back(ItemBytes(cmbHName_, i));
  if (system_selected_ && *system_selected_ < s.cmbHName.list.size()) {
    s.cmbHName.selected = system_selected_;
  }
  s.txtDesc = GetBytes(txtDesc_);
  s.txtAuthor = GetBytes(txtAuthor_);
  s.chkCvtRoms = chkCvtRoms_->isChecked() ? 1 : 0;
  s.chkVerify = chkVerify_->isChecked() ? 1 : 0;
  s.txtRenamePaths = GetBytes(txtRenamePaths_);
  s.txtOutput = GetBytes(txtOutput_);
  s.txtDkPath = GetBytes(txtDkPath_);
  s.chkMakeCfg = chkMakeCfg_->isChecked() ? 1 : 0;
  s.chkRomAdd = chkRomAdd_->isChecked() ? 1 : 0;
  s.chkArtwork = chkArtwork_->isChecked() ? 1 : 0;
  s.chkVdirAdd = chkVdirAdd_->isChecked() ? 1 : 0;
  s.chkDatAdd = chkDatAdd_->isChecked() ? 1 : 0;
  return s;
}

void MainWindow::WriteControls(const RunSettings& s) {
  // The system list comes with the settings: no refill while the fields are set.
  updating_ = true;
  SetBytes(txtMessPath_, s.txtMessPath);
  SetBytes(txtRom_, s.txtRom);
  // A preset may hold a longer extension than can be typed; it is shown as it is.
  txtExtension_->setMaxLength(std::max<int>(4, static_cast<int>(s.txtExtension.size())));
  SetBytes(txtExtension_, s.txtExtension);
  FillSystemList(s.cmbHName);
  SetBytes(cmbHName_->lineEdit(), s.cmbHName.text);
  SetBytes(txtDesc_, s.txtDesc);
  SetBytes(txtAuthor_, s.txtAuthor);
  chkCvtRoms_->setChecked(s.chkCvtRoms == 1);
  chkVerify_->setChecked(s.chkVerify == 1);
  SetBytes(txtRenamePaths_, s.txtRenamePaths);
  SetBytes(txtOutput_, s.txtOutput);
  SetBytes(txtDkPath_, s.txtDkPath);
  chkMakeCfg_->setChecked(s.chkMakeCfg == 1);
  chkRomAdd_->setChecked(s.chkRomAdd == 1);
  chkArtwork_->setChecked(s.chkArtwork == 1);
  chkVdirAdd_->setChecked(s.chkVdirAdd == 1);
  chkDatAdd_->setChecked(s.chkDatAdd == 1);
  updating_ = false;
}

void MainWindow::FillSystemList(const SystemBox& box) {
  // Refilling the list must not change what the box shows.
  const QString text = cmbHName_->currentText();
  const QSignalBlocker block(cmbHName_);
  cmbHName_->clear();
  for (const std::string& name : box.list) AddItemBytes(cmbHName_, name);
  system_selected_.reset();
  if (box.selected && *box.selected < box.list.size()) {
    cmbHName_->setCurrentIndex(static_cast<int>(*box.selected));
    system_selected_ = box.selected;
  } else {
    cmbHName_->setCurrentIndex(-1);
    cmbHName_->setEditText(text);
  }
}

void MainWindow::FillPresetList() {
  QStringList names;
  for (const std::string& n : runner_.presets) names.push_back(ToQt(n));
  QStringList shown;
  for (int i = 0; i < cmbPresets_->count(); ++i) shown.push_back(cmbPresets_->itemText(i));
  if (names == shown && cmbPresets_->currentIndex() == -1) return;
  const QSignalBlocker block(cmbPresets_);
  cmbPresets_->clear();
  cmbPresets_->addItems(names);
  cmbPresets_->setCurrentIndex(-1);
}

void MainWindow::SetInputsEnabled(bool enabled) {
  for (QWidget* w : inputs_) w->setEnabled(enabled);
}

// ---- Status and messages ----

void MainWindow::ShowMessage(const QString& title, const QString& text) {
  if (show_message_) show_message_(title, text);
}

void MainWindow::ShowStatus(const QString& text) {
  status_text_ = text;
  // A long file name is cut in the middle to the label's width; the whole text is kept and
  // shown again when the window is resized. Before the window is laid out there is no width
  // to cut to.
  if (!lStatus_->isVisible()) {
    lStatus_->setText(text);
    return;
  }
  lStatus_->setText(lStatus_->fontMetrics().elidedText(text, Qt::ElideMiddle, lStatus_->width()));
}

void MainWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  ShowStatus(status_text_);
}

void MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  ShowStatus(status_text_);
}

void MainWindow::TakeReporterView() {
  bool changed = false;
  const WindowReporter::View view = reporter_.Take(&changed);
  if (!changed) return;
  ShowStatus(view.status);
  if (!running_) return;
  if (view.files) {
    progress_->show();
    if (view.total == 0) {
      progress_->setRange(0, 0);  // the number of files is not known: a busy bar
    } else {
      const int scale = view.total > 1000000 ? 1000 : 1;
      progress_->setRange(0, static_cast<int>(view.total / scale));
      progress_->setValue(static_cast<int>(view.done / scale));
      progress_->setFormat(QStringLiteral("%1 of %2 files").arg(view.done).arg(view.total));
    }
  }
}

// ---- Commands ----

void MainWindow::RunCommand(Command command, CommandLine command_line) {
  if (running_) return;
  runner_.settings = ReadControls();
  runner_.Rehash = chkRehash_->isChecked();
  reporter_.BeginCommand();
  running_ = true;
  SetInputsEnabled(false);
  lStatus_->setToolTip(QString());
  progress_->setRange(0, 1);
  progress_->setValue(0);
  progress_->setFormat(QString());
  progress_->hide();
  poll_.start();
  // When the command first reports, its settings are loaded and completed: show them while
  // it waits (a command-line start loads them on the command's thread).
  reporter_.SyncOnce([this] { WriteControls(runner_.settings); });
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
        s = RunCommandLine(runner_, line, false);  // the loaded settings show at its first report
        break;
    }
    QMetaObject::invokeMethod(this, [this, s] { CommandFinished(s); }, Qt::QueuedConnection);
  });
}

void MainWindow::CommandFinished(const Status& status) {
  if (worker_.joinable()) worker_.join();
  poll_.stop();
  TakeReporterView();
  running_ = false;
  progress_->hide();
  // A run completes some settings (extension dot, output, description, author): show them.
  WriteControls(runner_.settings);
  FillPresetList();
  SetInputsEnabled(true);

  const QStringList warnings = reporter_.warnings();
  if (!warnings.isEmpty()) {
    QString tip = QStringLiteral("Warnings of the last command:");
    for (int i = 0; i < warnings.size() && i < kMaxWarningsInTip; ++i) {
      tip += QStringLiteral("\n- ") + warnings[i];
    }
    if (warnings.size() > kMaxWarningsInTip) {
      tip += QStringLiteral("\n... and %1 more").arg(warnings.size() - kMaxWarningsInTip);
    }
    lStatus_->setToolTip(tip);
    QString last = status_text_.startsWith(QStringLiteral("Warning: ")) ? QString() : status_text_;
    if (status.ok()) {
      ShowStatus((last.isEmpty() ? QStringLiteral("Status:  Done") : last) +
                 QStringLiteral(" (completed with %1 warning%2; point here to read them)")
                     .arg(warnings.size())
                     .arg(warnings.size() == 1 ? QString() : QStringLiteral("s")));
    }
  }
  emit commandFinished();

  if (close_pending_) {
    // The user closed the window during the run and said yes: the run has stopped at a
    // file boundary; now the session ends as a close always does.
    close_pending_ = false;
    if (runner_.SilentMode) exit_status_ = ExitStatusOf(status, runner_.warnings());
    close();
    return;
  }
  if (runner_.SilentMode && !IsDataMissing(status)) {
    exit_status_ = ExitStatusOf(status, runner_.warnings());
    emit programEnds(exit_status_);
  }
}

bool MainWindow::SaveLastUsed() {
  runner_.settings = ReadControls();
  Status s = ShutDown(runner_);
  if (!s.ok()) {
    ShowMessage(ToQt(s.Title()),
                ToQt("The settings could not be kept for the next start: " + s.message()));
    return false;
  }
  return true;
}

void MainWindow::StartInteractive() {
  exit_status_ = kExitDone;
  ::quorvin::StartInteractive(runner_);
  WriteControls(runner_.settings);
  FillPresetList();
}

void MainWindow::StartCommandLine(const QStringList& arguments) {
  std::vector<std::string> args;
  for (const QString& a : arguments) args.push_back(FromQt(a));
  StartCommandLineArgs(args);
}

void MainWindow::StartCommandLineArgs(const std::vector<std::string>& args) {
  exit_status_ = kExitStopped;
  // Read as the headless program reads it; a malformed one is refused before anything is
  // read or written, and ends the program as a usage error.
  auto command_line = ParseCommandLine(args);
  if (!command_line.ok()) {
    runner_.SilentMode = true;
    ShowMessage(ToQt(command_line.status().Title()), ToQt(command_line.status().message()));
    exit_status_ = kExitUsage;
    emit programEnds(exit_status_);
    return;
  }
  RunCommand(Command::kCommandLine, std::move(command_line).value());
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (running_) {
    event->ignore();
    if (close_pending_) return;
    if (!confirm_(QStringLiteral("Quorvin"),
                  QStringLiteral("A command is still running. Stop it after the file in hand and "
                                 "close Quorvin?"))) {
      return;
    }
    close_pending_ = true;
    reporter_.RequestStop();
    ShowStatus(QStringLiteral("Status:  Stopping after the file in hand..."));
    return;
  }
  SaveLastUsed();
  if (about_) about_->close();
  event->accept();
}

// ---- Events of the controls ----

void MainWindow::OnMessPathEdited() {
  if (updating_ || running_) return;
  runner_.settings = ReadControls();
  runner_.RefillSystemList();
  FillSystemList(runner_.settings.cmbHName);
}

void MainWindow::OnPresetPicked(int index) {
  if (index < 0 || running_) return;
  const std::string name = FromQt(cmbPresets_->itemText(index));
  runner_.settings = ReadControls();
  Status s = runner_.LoadPreset(name);
  if (s.ok()) {
    WriteControls(runner_.settings);
  } else if (s.kind() != ErrorKind::kNotFound) {
    // A preset removed since the list was filled loads nothing; a damaged one says so.
    ShowMessage(ToQt(s.Title()), ToQt(s.message()));
  }
}

void MainWindow::OnSave() {
  runner_.settings = ReadControls();
  (void)runner_.SaveSettingsAsPreset();  // a failure has been shown
  FillPresetList();
}

void MainWindow::OnMessBrowse() {
  const QString chosen = pick_folder_(txtMessPath_->text(),
                                      QStringLiteral("Locate Folder Containing MESS"));
  // The run joins "crc" to this folder; the separator at its end is the user's habit.
  if (!chosen.isEmpty()) txtMessPath_->setText(QDir::toNativeSeparators(chosen) + QDir::separator());
}

void MainWindow::OnDkBrowse() {
  const QString chosen = pick_folder_(txtDkPath_->text(),
                                      QStringLiteral("Locate Folder Containing Dragon King"));
  if (!chosen.isEmpty()) txtDkPath_->setText(QDir::toNativeSeparators(chosen));
}

void MainWindow::OnOutputBrowse() {
  const QString chosen = pick_file_(txtOutput_->text());
  if (!chosen.isEmpty()) txtOutput_->setText(QDir::toNativeSeparators(chosen));
}

QStringList MainWindow::ReadmeCandidates() const {
  const QString exe_dir = QCoreApplication::applicationDirPath();
  QStringList out;
  auto add = [&out](const QString& folder) {
    const QString path = QDir::cleanPath(folder + QStringLiteral("/readme.txt"));
    if (!out.contains(path)) out.push_back(path);
  };
  add(exe_dir);
  add(ToQt(runner_.program_folder()));
  // An installed program: <prefix>/bin/quorvin and <prefix>/share/doc/quorvin/readme.txt.
  QString rel_bin = QStringLiteral(QUORVIN_BIN_DIR);
  QString up;
  for (const QString& part : rel_bin.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
    (void)part;
    up += QStringLiteral("/..");
  }
  add(exe_dir + up + QStringLiteral("/") + QStringLiteral(QUORVIN_RELATIVE_DOC_DIR));
  add(QStringLiteral(QUORVIN_INSTALLED_DOC_DIR));
  return out;
}

void MainWindow::OnReadme() {
  const QStringList candidates = ReadmeCandidates();
  for (const QString& path : candidates) {
    if (QFileInfo(path).isFile()) {
      if (!open_file_(path)) {
        ShowMessage(QStringLiteral("Read Me First"),
                    QStringLiteral("No program is set up to open %1").arg(path));
      }
      return;
    }
  }
  ShowMessage(QStringLiteral("Not Found"),
              QStringLiteral("The read-me file is in none of these places:\n") +
                  candidates.join(QLatin1Char('\n')));
}

void MainWindow::OnAbout() {
  if (about_ == nullptr) about_ = new AboutBox(this);
  about_->show();
  about_->raise();
  about_->activateWindow();
}

}  // namespace quorvin::ui
