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

#include "ui/about_box.h"
#include "ui/folder_picker.h"
#include "ui/qt_text.h"

// Outside every namespace: the macro declares the resource's function where it stands.
static void InitQuorvinResources() { Q_INIT_RESOURCE(resources); }
void quorvin::ui::InitResources() { InitQuorvinResources(); }

namespace quorvin::ui {

namespace {

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

MainWindow::MainWindow(std::string program_folder, QWidget* parent) : QWidget(parent) {
  InitResources();
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(ToQt(window::kWindowTitle));
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
    return ::quorvin::ui::PickFolder(initial, title, this);
  };
  pick_file_ = [this](const QString& initial) { return PickOutputFile(initial, this); };
  open_file_ = [](const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  };

  model_ = std::make_unique<window::WindowModel>(std::move(program_folder),
                                                 static_cast<window::ViewPort&>(*this));
  BuildControls();
  SettingsChanged();
  poll_.setInterval(window::kStatusPollMs);
  connect(&poll_, &QTimer::timeout, this, [this] { model_->PollStatus(); });
  status_text_ = ToQt(model_->status_view().status);
}

MainWindow::~MainWindow() {
  // The model stops a run still going after the file in hand and waits for it, while this
  // object still takes its queued calls.
  model_.reset();
}

void MainWindow::BuildControls() {
  // MESS frame and preset frame, side by side.
  auto* fraMess = MakeFrame(
      "FraMess",
      QStringLiteral(
          "Mess Injector Options (If the path is left Blank Mess Injection is bypassed)"));
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
  txtExtension_->setMaximumWidth(
      txtExtension_->fontMetrics().horizontalAdvance(QStringLiteral("MMMMM")) + 16);
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
  chkArtwork_ =
      MakeCheck("chkArtwork", QStringLiteral("Add Artwork Paths to Dk if they are missing."), true);
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

  inputs_ = {txtMessPath_,    cmdMessBrowse_, cmbPresets_, txtRom_,     txtExtension_,
             cmbHName_,       txtDesc_,       txtAuthor_,  chkCvtRoms_, chkVerify_,
             txtRenamePaths_, txtOutput_,     command1_,   txtDkPath_,  cmdDkBrowse_,
             chkMakeCfg_,     chkRomAdd_,     chkArtwork_, chkVdirAdd_, chkDatAdd_,
             cmdStart_,       cmdSave_,       cmdRevert_,  cmdReadme_,  cmdAbout_};
  inputs_.push_back(chkRehash_);

  text_boxes_ = {{window::TextField::kMessPath, txtMessPath_},
                 {window::TextField::kRom, txtRom_},
                 {window::TextField::kExtension, txtExtension_},
                 {window::TextField::kDesc, txtDesc_},
                 {window::TextField::kAuthor, txtAuthor_},
                 {window::TextField::kRenamePaths, txtRenamePaths_},
                 {window::TextField::kOutput, txtOutput_},
                 {window::TextField::kDkPath, txtDkPath_}};
  check_boxes_ = {
      {window::CheckField::kCvtRoms, chkCvtRoms_}, {window::CheckField::kVerify, chkVerify_},
      {window::CheckField::kMakeCfg, chkMakeCfg_}, {window::CheckField::kRomAdd, chkRomAdd_},
      {window::CheckField::kArtwork, chkArtwork_}, {window::CheckField::kVdirAdd, chkVdirAdd_},
      {window::CheckField::kDatAdd, chkDatAdd_}};
  for (const auto& [field, edit] : text_boxes_) {
    connect(edit, &QLineEdit::textChanged, this, [this, field = field, edit = edit] {
      if (!updating_) model_->SetText(field, GetBytes(edit));
    });
  }
  for (const auto& [field, box] : check_boxes_) {
    connect(box, &QCheckBox::toggled, this, [this, field = field](bool on) {
      if (!updating_) model_->SetCheck(field, on);
    });
  }
  connect(chkRehash_, &QCheckBox::toggled, this, [this](bool on) {
    if (!updating_) model_->SetRehash(on);
  });
  connect(cmbHName_, &QComboBox::activated, this, [this](int index) {
    if (!updating_ && index >= 0) model_->ChooseSystem(static_cast<size_t>(index));
  });
  connect(cmbHName_->lineEdit(), &QLineEdit::textChanged, this, [this] {
    if (!updating_) model_->SetText(window::TextField::kSystem, GetBytes(cmbHName_->lineEdit()));
  });
  connect(cmbPresets_, &QComboBox::activated, this, [this](int i) {
    if (i >= 0) model_->PickPreset(static_cast<size_t>(i));
  });
  connect(cmdStart_, &QPushButton::clicked, this, [this] { model_->Start(); });
  connect(cmdRevert_, &QPushButton::clicked, this, [this] { model_->Revert(); });
  connect(cmdSave_, &QPushButton::clicked, this, [this] { model_->SavePreset(); });
  connect(cmdMessBrowse_, &QPushButton::clicked, this, [this] { model_->BrowseMess(); });
  connect(cmdDkBrowse_, &QPushButton::clicked, this, [this] { model_->BrowseDk(); });
  connect(command1_, &QPushButton::clicked, this, [this] { model_->BrowseOutput(); });
  connect(cmdReadme_, &QPushButton::clicked, this, [this] {
    std::vector<std::string> candidates;
    for (const QString& path : ReadmeCandidates()) candidates.push_back(FromQt(path));
    model_->OpenReadme(candidates);
  });
  connect(cmdAbout_, &QPushButton::clicked, this, [this] { model_->About(); });
}

// ---- Drawing the model ----

void MainWindow::SettingsChanged() {
  const RunSettings& s = model_->settings();
  // The controls' change events while they are set are echoes, not the user's.
  updating_ = true;
  // A preset may hold a longer extension than can be typed; it is shown as it is.
  txtExtension_->setMaxLength(std::max<int>(static_cast<int>(window::kExtensionMaxTyped),
                                            static_cast<int>(s.txtExtension.size())));
  for (const auto& [field, edit] : text_boxes_) {
    const std::string& value = window::TextOf(s, field);
    if (GetBytes(edit) != value) SetBytes(edit, value);
  }
  FillSystemList(s.cmbHName);
  SetBytes(cmbHName_->lineEdit(), s.cmbHName.text);
  for (const auto& [field, box] : check_boxes_) box->setChecked(window::CheckOf(s, field));
  chkRehash_->setChecked(model_->rehash());
  updating_ = false;
}

void MainWindow::SystemListChanged() {
  updating_ = true;
  FillSystemList(model_->settings().cmbHName);
  updating_ = false;
}

void MainWindow::FillSystemList(const SystemBox& box) {
  // Refilling the list must not change what the box shows.
  const QString text = cmbHName_->currentText();
  const QSignalBlocker block(cmbHName_);
  cmbHName_->clear();
  for (const std::string& name : box.list) AddItemBytes(cmbHName_, name);
  if (box.selected && *box.selected < box.list.size()) {
    cmbHName_->setCurrentIndex(static_cast<int>(*box.selected));
  } else {
    cmbHName_->setCurrentIndex(-1);
    cmbHName_->setEditText(text);
  }
}

void MainWindow::PresetsChanged() {
  QStringList names;
  for (const std::string& n : model_->presets()) names.push_back(ToQt(n));
  QStringList shown;
  for (int i = 0; i < cmbPresets_->count(); ++i) shown.push_back(cmbPresets_->itemText(i));
  if (names == shown && cmbPresets_->currentIndex() == -1) return;
  const QSignalBlocker block(cmbPresets_);
  cmbPresets_->clear();
  cmbPresets_->addItems(names);
  cmbPresets_->setCurrentIndex(-1);
}

void MainWindow::RunningChanged() {
  const bool enabled = model_->inputs_enabled();
  for (QWidget* w : inputs_) w->setEnabled(enabled);
  if (model_->running()) {
    poll_.start();
  } else {
    poll_.stop();
  }
}

void MainWindow::StatusChanged() {
  const window::StatusView view = model_->status_view();
  ShowStatus(ToQt(view.status));
  lStatus_->setToolTip(ToQt(view.tip));
  if (!view.bar_shown) {
    progress_->hide();
    return;
  }
  progress_->show();
  if (view.bar_busy) {
    progress_->setRange(0, 0);  // nothing to count: a busy bar
    return;
  }
  progress_->setRange(0, 1000);
  progress_->setValue(view.bar_permille);
  progress_->setFormat(ToQt(view.bar_text));
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

// ---- What the model asks of the view ----

void MainWindow::Post(std::function<void()> job) {
  // Queued on this object: dropped by Qt if the window is gone before it runs.
  QMetaObject::invokeMethod(this, std::move(job), Qt::QueuedConnection);
}

void MainWindow::ShowMessage(const std::string& title, const std::string& text) {
  if (show_message_) show_message_(ToQt(title), ToQt(text));
}

bool MainWindow::Confirm(const std::string& title, const std::string& text) {
  return confirm_ && confirm_(ToQt(title), ToQt(text));
}

std::string MainWindow::PickFolder(const std::string& initial, const std::string& title) {
  const QString chosen = pick_folder_(ToQt(initial), ToQt(title));
  return chosen.isEmpty() ? std::string() : FromQt(QDir::toNativeSeparators(chosen));
}

std::string MainWindow::PickSaveFile(const std::string& initial) {
  const QString chosen = pick_file_(ToQt(initial));
  return chosen.isEmpty() ? std::string() : FromQt(QDir::toNativeSeparators(chosen));
}

bool MainWindow::OpenFile(const std::string& path) { return open_file_ && open_file_(ToQt(path)); }

void MainWindow::ShowAbout() {
  if (about_ == nullptr) about_ = new AboutBox(this);
  about_->show();
  about_->raise();
  about_->activateWindow();
}

void MainWindow::CommandFinished() { emit commandFinished(); }

void MainWindow::ProgramEnds(int exit_status) { emit programEnds(exit_status); }

void MainWindow::CloseNow() { close(); }

// ---- Start-up and closing ----

void MainWindow::StartInteractive() { model_->StartInteractive(); }

void MainWindow::StartCommandLine(const QStringList& arguments) {
  std::vector<std::string> args;
  for (const QString& a : arguments) args.push_back(FromQt(a));
  StartCommandLineArgs(args);
}

void MainWindow::StartCommandLineArgs(const std::vector<std::string>& args) {
  model_->StartCommandLine(args);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  if (!model_->RequestClose()) {
    event->ignore();
    return;
  }
  if (about_) about_->close();
  event->accept();
}

QStringList MainWindow::ReadmeCandidates() const {
  const QString exe_dir = QCoreApplication::applicationDirPath();
  QStringList out;
  auto add = [&out](const QString& folder) {
    const QString path = QDir::cleanPath(folder + QStringLiteral("/readme.txt"));
    if (!out.contains(path)) out.push_back(path);
  };
  add(exe_dir);
  add(ToQt(model_->program_folder()));
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

}  // namespace quorvin::ui
