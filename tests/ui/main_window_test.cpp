// The window driven as a user drives it: controls found by their names, messages caught
// through the window's message function instead of a modal box.

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "cache/hash_cache.h"
#include "platform/fileops.h"
#include "presets/preset_file.h"
#include "run/startup.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

using quorvin::ui::MainWindow;

namespace {

constexpr int kRunTimeoutMs = 240000;
constexpr int kManyFiles = 10000;

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

QByteArray ReadBytes(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return QByteArray("<missing ") + path.toUtf8() + ">";
  return f.readAll();
}

struct Message {
  QString title;
  QString text;
};

// A window on a program folder of its own, whose messages are recorded.
struct Session {
  explicit Session(const QString& home) {
    QDir().mkpath(home + "/presets");
    QDir().mkpath(home + "/conversions");
    window = std::make_unique<MainWindow>(quorvin::ui::FromQt(home));
    window->SetMessageFunction([this](const QString& title, const QString& text) {
      messages.push_back({title, text});
    });
  }
  template <typename T>
  T* Find(const char* name) const {
    T* w = window->findChild<T*>(QString::fromLatin1(name));
    if (w == nullptr) qFatal("no control named %s", name);
    return w;
  }
  QLineEdit* Edit(const char* name) const { return Find<QLineEdit>(name); }
  QCheckBox* Check(const char* name) const { return Find<QCheckBox>(name); }
  QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
  QComboBox* Combo(const char* name) const { return Find<QComboBox>(name); }
  QString Status() const { return Find<QLabel>("lStatus")->text(); }
  // Clicks a button and waits until the command it started has ended.
  bool ClickAndWait(const char* button) {
    QSignalSpy done(window.get(), &MainWindow::commandFinished);
    QTest::mouseClick(Button(button), Qt::LeftButton);
    return done.count() > 0 || done.wait(kRunTimeoutMs);
  }

  std::unique_ptr<MainWindow> window;
  std::vector<Message> messages;
};

// Copies a folder with everything in it.
bool CopyTree(const QString& from, const QString& to) {
  QDir src(from);
  if (!QDir().mkpath(to)) return false;
  for (const QFileInfo& e : src.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
    const QString target = to + "/" + e.fileName();
    if (e.isDir() ? !CopyTree(e.filePath(), target) : !QFile::copy(e.filePath(), target)) {
      return false;
    }
  }
  return true;
}

QStringList Files(const QString& folder) {
  return QDir(folder).entryList(QDir::Files, QDir::Name);
}

QStringList Items(QComboBox* box) {
  QStringList out;
  for (int i = 0; i < box->count(); ++i) out.push_back(box->itemText(i));
  return out;
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    tmp_ = std::make_unique<QTemporaryDir>();
    QVERIFY(tmp_->isValid());
    home_ = tmp_->path() + "/home";
  }
  void cleanup() { tmp_.reset(); }

  void ControlsCarryTheirNamesCaptionsAndInitialValues() {
    Session s(home_);
    MainWindow* w = s.window.get();
    QCOMPARE(w->objectName(), QString("Form1"));
    QCOMPARE(w->windowTitle(),
             QString("Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer"));
    const std::vector<std::pair<const char*, const char*>> buttons = {
        {"cmdStart", "&Start"},
        {"cmdSave", "Save Settings as Preset"},
        {"cmdRevert", "Revert All Changes"},
        {"cmdReadme", "Read Me First"},
        {"cmdAbout", "About"},
        {"cmdMessBrowse", "Browse"},
        {"cmdDkBrowse", "Browse"},
        {"Command1", "Browse"}};
    for (const auto& [name, caption] : buttons) QCOMPARE(s.Button(name)->text(), QString(caption));
    for (const char* name : {"chkMakeCfg", "chkRomAdd", "chkArtwork", "chkVdirAdd", "chkDatAdd"}) {
      QVERIFY2(s.Check(name)->isChecked(), name);
    }
    QVERIFY(!s.Check("chkCvtRoms")->isChecked());
    QVERIFY(s.Combo("cmbHName")->isEditable());
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("For a Non-Mess System Type it in"));
    QVERIFY(!s.Combo("cmbPresets")->isEditable());
    QCOMPARE(s.Status(), QString("Status: Ready"));
    QCOMPARE(s.Find<QLabel>("Label10")->text(), QString("ONLY"));
    QVERIFY(s.Find<QLabel>("Label10")->font().bold());
    for (const char* name : {"FraMess", "FrmPreset", "fraDatGen", "frmRenaming", "frmDk"}) {
      QVERIFY2(w->findChild<QWidget*>(name) != nullptr, name);
    }
  }

  void ExtensionTakesAtMostFourTypedCharacters() {
    Session s(home_);
    QTest::keyClicks(s.Edit("txtExtension"), ".nesx");
    QCOMPARE(s.Edit("txtExtension")->text(), QString(".nes"));
  }

  void StartWithoutRomFolderShowsTheRomPathsMessage() {
    Session s(home_);
    QVERIFY(s.ClickAndWait("cmdStart"));
    QCOMPARE(s.messages.size(), size_t{1});
    QCOMPARE(s.messages[0].title, QString("Data Missing"));
    QCOMPARE(s.messages[0].text, QString("Rom Paths is a required Field, Fill it out Please"));
    QVERIFY(s.Button("cmdStart")->isEnabled());
    QVERIFY(s.Edit("txtRom")->isEnabled());
  }

  void MessPathEditsRefillTheSystemList() {
    const QString mess = tmp_->path() + "/mess";
    WriteBytes(mess + "/crc/nes.crc", "[nes]\r\n");
    WriteBytes(mess + "/crc/a2600.crc", "[a2600]\r\n");
    WriteBytes(tmp_->path() + "/mess2/crc/coleco.crc", "[coleco]\r\n");
    Session s(home_);
    QTest::keyClicks(s.Edit("txtMessPath"), mess + "/");
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"a2600", "nes"}));
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("For a Non-Mess System Type it in"));
    // Pasted or set at once, as a preset or the folder picker does.
    s.Edit("txtMessPath")->setText(tmp_->path() + "/mess2/");
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"coleco"}));
    // Through the Browse button, and a cancelled picker leaves the box alone.
    QString offered;
    s.window->SetFolderFunction([&](const QString& initial, const QString& title) {
      offered = initial + "|" + title;
      return QString();
    });
    QTest::mouseClick(s.Button("cmdMessBrowse"), Qt::LeftButton);
    QCOMPARE(offered, tmp_->path() + "/mess2/|Locate Folder Containing MESS");
    QCOMPARE(s.Edit("txtMessPath")->text(), tmp_->path() + "/mess2/");
    s.window->SetFolderFunction([&](const QString&, const QString&) { return mess; });
    QTest::mouseClick(s.Button("cmdMessBrowse"), Qt::LeftButton);
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"a2600", "nes"}));
  }

  void BrowseButtonsFillTheirBoxesOnlyWhenSomethingWasChosen() {
    Session s(home_);
    s.Edit("txtOutput")->setText("/keep/me.dat");
    QString offered;
    s.window->SetFileFunction([&](const QString& initial) {
      offered = initial;
      return QString();
    });
    QTest::mouseClick(s.Button("Command1"), Qt::LeftButton);
    QCOMPARE(offered, QString("/keep/me.dat"));
    QCOMPARE(s.Edit("txtOutput")->text(), QString("/keep/me.dat"));
    s.window->SetFileFunction([&](const QString&) { return QString("/new/out.dat"); });
    QTest::mouseClick(s.Button("Command1"), Qt::LeftButton);
    QCOMPARE(s.Edit("txtOutput")->text(), QString("/new/out.dat"));
    s.window->SetFolderFunction([&](const QString& initial, const QString& title) {
      offered = title;
      return initial.isEmpty() ? QString("/dk") : QString();
    });
    QTest::mouseClick(s.Button("cmdDkBrowse"), Qt::LeftButton);
    QCOMPARE(offered, QString("Locate Folder Containing Dragon King"));
    QCOMPARE(s.Edit("txtDkPath")->text(), QString("/dk"));
  }

  void PickingAPresetFillsEveryField() {
    const QString mess = tmp_->path() + "/mess/";
    WriteBytes(mess + "crc/nes.crc", "[nes]\r\n");
    quorvin::RunSettings p;
    p.txtMessPath = quorvin::ui::FromQt(mess);
    p.txtRom = "/roms/a;/roms/b";
    p.txtExtension = ".nes";
    p.cmbHName.text = "nes";
    p.txtDesc = "Nintendo NES";
    p.txtAuthor = "Me";
    p.chkCvtRoms = 1;
    p.txtRenamePaths = "/art/nes";
    p.txtOutput = "/out/nes.dat";
    p.txtDkPath = "/dk";
    p.chkMakeCfg = 0;
    p.chkRomAdd = 1;
    p.chkArtwork = 0;
    p.chkVdirAdd = 1;
    p.chkDatAdd = 0;
    p.chkVerify = 1;
    QDir().mkpath(home_ + "/presets");
    QVERIFY(quorvin::SavePresetFile(quorvin::ui::FromQt(home_ + "/presets"), "nes", p).ok());
    QVERIFY(quorvin::SavePresetFile(quorvin::ui::FromQt(home_ + "/presets"), "a", {}).ok());

    Session s(home_);
    s.window->StartInteractive();
    QComboBox* presets = s.Combo("cmbPresets");
    QCOMPARE(Items(presets), QStringList({"a", "nes"}));
    QCOMPARE(presets->currentIndex(), -1);
    presets->setCurrentIndex(1);
    emit presets->activated(1);
    QCOMPARE(s.Edit("txtMessPath")->text(), mess);
    QCOMPARE(s.Edit("txtRom")->text(), QString("/roms/a;/roms/b"));
    QCOMPARE(s.Edit("txtExtension")->text(), QString(".nes"));
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("nes"));
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"nes"}));  // refilled from the preset's MESS
    QCOMPARE(s.Edit("txtDesc")->text(), QString("Nintendo NES"));
    QCOMPARE(s.Edit("txtAuthor")->text(), QString("Me"));
    QVERIFY(s.Check("chkCvtRoms")->isChecked());
    QCOMPARE(s.Edit("txtRenamePaths")->text(), QString("/art/nes"));
    QCOMPARE(s.Edit("txtOutput")->text(), QString("/out/nes.dat"));
    QCOMPARE(s.Edit("txtDkPath")->text(), QString("/dk"));
    QVERIFY(!s.Check("chkMakeCfg")->isChecked());
    QVERIFY(s.Check("chkRomAdd")->isChecked());
    QVERIFY(!s.Check("chkArtwork")->isChecked());
    QVERIFY(s.Check("chkVdirAdd")->isChecked());
    QVERIFY(!s.Check("chkDatAdd")->isChecked());
    QVERIFY(s.Check("chkVerify")->isChecked());
    QCOMPARE(s.Check("chkVerify")->text(), QString("Verify zip contents"));
    QVERIFY(s.messages.empty());

    // A preset removed since the list was filled loads nothing and says nothing.
    QFile::remove(home_ + "/presets/a.pre");
    presets->setCurrentIndex(0);
    emit presets->activated(0);
    QCOMPARE(s.Edit("txtRom")->text(), QString("/roms/a;/roms/b"));
    QVERIFY(s.messages.empty());
  }

  void SaveNamesThePresetAfterTheSystemAndListsIt() {
    Session s(home_);
    s.window->StartInteractive();
    s.Combo("cmbHName")->setEditText("snes");
    s.Edit("txtRom")->setText("/roms/snes");
    QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
    QCOMPARE(Items(s.Combo("cmbPresets")), QStringList({"snes"}));
    QCOMPARE(s.Combo("cmbPresets")->currentIndex(), -1);
    QVERIFY(ReadBytes(home_ + "/presets/snes.pre").contains("/roms/snes\r\n"));
    // A system name that cannot name a file is refused with a message naming it.
    s.Combo("cmbHName")->setEditText("a/b");
    QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
    QCOMPARE(s.messages.size(), size_t{1});
    QVERIFY(s.messages[0].text.contains("a/b"));
  }

  void ClosingKeepsTheSettingsForTheNextStart() {
    {
      Session s(home_);
      s.window->StartInteractive();
      s.window->show();
      QTest::keyClicks(s.Edit("txtRom"), "/my roms");
      QTest::keyClicks(s.Edit("txtExtension"), "gb");
      s.Combo("cmbHName")->setEditText("gameboy");
      QCheckBox* dat = s.Check("chkDatAdd");
      QTest::mouseClick(dat, Qt::LeftButton, {}, QPoint(4, dat->height() / 2));
      QVERIFY(s.window->close());
    }
    QVERIFY(QFile::exists(home_ + "/presets/lastused.pre"));
    Session s(home_);
    s.window->StartInteractive();
    QCOMPARE(s.Edit("txtRom")->text(), QString("/my roms"));
    QCOMPARE(s.Edit("txtExtension")->text(), QString("gb"));
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("gameboy"));
    QVERIFY(!s.Check("chkDatAdd")->isChecked());
    QCOMPARE(Items(s.Combo("cmbPresets")), QStringList({"lastused"}));
  }

  // Settings are bytes: a folder named in Latin-1 comes back from the window byte for byte
  // when the user leaves it alone, and a box the user edits takes the new text.
  void BytesThatAreNotUtf8SurviveTheWindow() {
    QByteArray preset;
    const QByteArray rom("/roms/caf\xe9 n\xe8s");  // not UTF-8
    const QList<QByteArray> fields = {"/mess/", rom, ".nes", "sys\xff", "D\xe9sc", "", "0",
                                      "/art/\xe9", "/out/\xe9.dat", "", "1", "1", "1", "1", "1"};
    for (const QByteArray& f : fields) preset += f + "\r\n";
    WriteBytes(home_ + "/presets/lastused.pre", preset);
    {
      Session s(home_);
      s.window->StartInteractive();
      s.window->show();
      s.Edit("txtAuthor")->setText("Me");
      QVERIFY(s.window->close());
    }
    // Check values are written as numbers are, with a blank on each side.
    QByteArray expected;
    for (int i = 0; i < fields.size(); ++i) {
      const QByteArray& f = i == 5 ? QByteArray("Me") : fields[i];
      expected += (f == "0" || f == "1" ? " " + f + " " : f) + "\r\n";
    }
    expected += " 0 \r\n";  // the zip check, which a preset of fifteen lines leaves off
    QCOMPARE(ReadBytes(home_ + "/presets/lastused.pre"), expected);
  }

  // A new user's first session on the sample collection, through the window alone: generate
  // with good names, rename, set up the front end, save a preset, revert, close, reopen, and
  // pick the preset again.
  void FirstSessionOnTheExampleCollection() {
    const QString ex = tmp_->path() + "/ex";
    QVERIFY(CopyTree(QUORVIN_EXAMPLES, ex));
    const QStringList roms_before = Files(ex + "/roms/nes");
    const QStringList art_before = Files(ex + "/artwork/nes");
    {
      Session s(home_);
      s.window->StartInteractive();
      s.window->show();
      QTest::keyClicks(s.Edit("txtMessPath"), ex + "/mess/");
      QComboBox* systems = s.Combo("cmbHName");
      const int nes = systems->findText("nes");
      QVERIFY(nes >= 0);
      systems->setCurrentIndex(nes);
      emit systems->activated(nes);
      QTest::keyClicks(s.Edit("txtRom"), ex + "/roms/nes");
      QTest::keyClicks(s.Edit("txtExtension"), "nes");
      QTest::keyClicks(s.Edit("txtDesc"), "Nintendo NES");
      QCheckBox* convert = s.Check("chkCvtRoms");
      QTest::mouseClick(convert, Qt::LeftButton, {}, QPoint(4, convert->height() / 2));
      QVERIFY(convert->isChecked());
      QTest::keyClicks(s.Edit("txtRenamePaths"), ex + "/artwork/nes");
      QTest::keyClicks(s.Edit("txtOutput"), ex + "/nes.dat");
      QTest::keyClicks(s.Edit("txtDkPath"), ex + "/dk");

      QVERIFY(s.ClickAndWait("cmdStart"));
      QVERIFY2(s.messages.empty(), s.messages.empty() ? "" : qPrintable(s.messages[0].text));
      QCOMPARE(s.Status(), QString("Status:  Done"));
      const QByteArray dat = ReadBytes(ex + "/nes.dat");
      QVERIFY(dat.contains("\tname \"Quorvin Demo Adventure (U)\"\r\n"));
      QVERIFY(Files(ex + "/roms/nes").contains("Quorvin Demo Adventure (U).nes"));
      QVERIFY(Files(ex + "/artwork/nes").contains("Blaster Zone (E) [!].png"));
      QVERIFY(QFile::exists(ex + "/dk/cfgs/nes.cfg"));
      QCOMPARE(ReadBytes(ex + "/dk/list generator/dats/nes.dat"), dat);
      QCOMPARE(s.Edit("txtExtension")->text(), QString(".nes"));

      QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
      QCOMPARE(Items(s.Combo("cmbPresets")), QStringList({"nes"}));

      QVERIFY(s.ClickAndWait("cmdRevert"));
      QCOMPARE(s.Status(), QString("Status:  Reversion Complete"));
      // Every file gets its earlier name back exactly.
      QCOMPARE(Files(ex + "/roms/nes"), roms_before);
      QCOMPARE(Files(ex + "/artwork/nes"), art_before);
      QVERIFY(s.messages.empty());
      QVERIFY(s.window->close());
    }
    Session s(home_);
    s.window->StartInteractive();
    QCOMPARE(s.Edit("txtRom")->text(), ex + "/roms/nes");
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("nes"));
    QVERIFY(s.Check("chkCvtRoms")->isChecked());
    QCOMPARE(Items(s.Combo("cmbPresets")), QStringList({"lastused", "nes"}));
    s.Edit("txtDesc")->setText("changed");
    QComboBox* presets = s.Combo("cmbPresets");
    presets->setCurrentIndex(1);
    emit presets->activated(1);
    QCOMPARE(s.Edit("txtDesc")->text(), QString("Nintendo NES"));
    QCOMPARE(s.Edit("txtDkPath")->text(), ex + "/dk/");
  }

  // Something skipped on the way: the run completes, and the status line says so.
  void WarningsShowOnTheStatusLine() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    Session s(home_);
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    s.Combo("cmbHName")->setEditText("nes");
    s.Edit("txtRenamePaths")->setText(tmp_->path() + "/no such art");
    QVERIFY(s.ClickAndWait("cmdStart"));
    QVERIFY(s.messages.empty());
    QVERIFY2(s.Status().contains("completed with 1 warning"), qPrintable(s.Status()));
    QVERIFY(s.Find<QLabel>("lStatus")->toolTip().contains("no such art"));
  }

  // "Rehash all files" reads every file rather than take its CRC from the cache; it is not a
  // setting, so presets do not keep it.
  void RehashBoxReadsEveryFileAndIsNotKeptInPresets() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    Session s(home_);
    QCheckBox* rehash = s.Check("chkRehash");
    QCOMPARE(rehash->text(), QString("Rehash all files"));
    QVERIFY(!rehash->isChecked());
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    s.Combo("cmbHName")->setEditText("nes");
    s.Edit("txtOutput")->setText(tmp_->path() + "/out.dat");
    {
      // A record of the file as it is now that no read of it could give.
      const std::string path = quorvin::ui::FromQt(roms + "/Alpha.nes");
      auto file = quorvin::InputFile::Open(path);
      QVERIFY(file.ok());
      auto id = file->Identity();
      QVERIFY(id.ok());
      quorvin::HashCacheOptions options;
      options.racy_window_ns = 0;
      auto cache = quorvin::OpenHashCache(quorvin::ui::FromQt(home_ + "/crccache.db"), options);
      quorvin::CachedHash forged;
      forged.size = 3;
      forged.crc = 0xABCDEF;
      forged.head = "abc";
      cache->Record({path, *id}, *id, forged, quorvin::NowNs());
      cache->Finish();
    }
    QVERIFY(s.ClickAndWait("cmdStart"));
    QVERIFY(ReadBytes(tmp_->path() + "/out.dat").contains("crc ABCDEF"));
    rehash->setChecked(true);
    QVERIFY(s.ClickAndWait("cmdStart"));
    QVERIFY(ReadBytes(tmp_->path() + "/out.dat").contains("crc 352441C2"));
    QVERIFY(rehash->isChecked());
    QVERIFY(s.messages.empty());
    QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
    // The preset's sixteen lines end with the zip check; the rehash box adds none.
    QCOMPARE(ReadBytes(home_ + "/presets/nes.pre").count("\r\n"), 16);
    QVERIFY(ReadBytes(home_ + "/presets/nes.pre").endsWith("\r\n 0 \r\n"));
    Session again(home_ + "2");
    QVERIFY(!again.Check("chkRehash")->isChecked());
  }

  // A run of ten thousand files: the window's own timers keep firing, the progress bar moves,
  // every input is disabled until the run ends, and the settings the run completed are shown
  // afterwards.
  void LongRunKeepsTheWindowAlive() {
    const QString roms = tmp_->path() + "/roms";
    QDir().mkpath(roms);
    for (int i = 0; i < kManyFiles; ++i) {
      WriteBytes(QString("%1/game %2.nes").arg(roms).arg(i, 5, 10, QChar('0')),
                 QByteArray::number(i));
    }
    Session s(home_);
    s.window->show();
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    s.Combo("cmbHName")->setEditText("nes");

    int ticks = 0;
    int disabled_ticks = 0;
    int progress_seen = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      ++ticks;
      if (s.window->running()) {
        if (!s.Button("cmdStart")->isEnabled() && !s.Edit("txtRom")->isEnabled() &&
            !s.Combo("cmbPresets")->isEnabled() && !s.Check("chkCvtRoms")->isEnabled()) {
          ++disabled_ticks;
        }
        if (s.Find<QProgressBar>("progressBar")->value() > 0) ++progress_seen;
      }
    });
    timer.start(5);
    QSignalSpy done(s.window.get(), &MainWindow::commandFinished);
    QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
    QVERIFY(s.window->running());
    QVERIFY(!s.Button("cmdStart")->isEnabled());
    QVERIFY(done.wait(kRunTimeoutMs));
    timer.stop();
    QVERIFY2(disabled_ticks >= 3, qPrintable(QString::number(disabled_ticks)));
    QVERIFY(progress_seen >= 1);  // the bar moved during the scan
    QVERIFY(s.Button("cmdStart")->isEnabled());
    QVERIFY(s.Edit("txtRom")->isEnabled());
    QCOMPARE(s.Status(), QString("Status:  Done"));
    QVERIFY(s.messages.empty());
    // The run completed the settings, and the controls show it.
    QCOMPARE(s.Edit("txtExtension")->text(), QString(".nes"));
    QCOMPARE(s.Edit("txtOutput")->text(), QDir(home_).filePath("default.dat"));
    QCOMPARE(s.Edit("txtDesc")->text(), QString("nes"));
    QCOMPARE(s.Edit("txtAuthor")->text(), QString("Auto Generated With Quorvin Utility"));
    QCOMPARE(ReadBytes(home_ + "/default.dat").count("game ("), kManyFiles);
  }

  void ClosingDuringARunAsksThenStopsAndSaves() {
    const QString roms = tmp_->path() + "/roms";
    for (int i = 0; i < 3000; ++i) WriteBytes(QString("%1/g%2.nes").arg(roms).arg(i), "x");
    Session s(home_);
    s.window->show();
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText(".nes");
    s.Combo("cmbHName")->setEditText("nes");
    int asked = 0;
    bool answer = false;
    s.window->SetConfirmFunction([&](const QString&, const QString&) {
      ++asked;
      return answer;
    });
    QSignalSpy done(s.window.get(), &MainWindow::commandFinished);
    QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
    QVERIFY(!s.window->close());  // "no": the run goes on
    QCOMPARE(asked, 1);
    QVERIFY(s.window->running());
    answer = true;
    QVERIFY(!s.window->close());  // "yes": closes when the run has stopped
    QVERIFY(done.count() > 0 || done.wait(kRunTimeoutMs));
    QTRY_VERIFY(!s.window->isVisible());
    QVERIFY(QFile::exists(home_ + "/presets/lastused.pre"));
    QVERIFY(ReadBytes(home_ + "/presets/lastused.pre").contains(roms.toUtf8()));
  }

  // Started with a command line, the window runs at once and ends the program: with 0 when the
  // run completed, non-zero after the message of any other stop; a "Data Missing" stop leaves
  // it open for the user.
  void CommandLineStartEndsTheProgramWithTheRunsStatus() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    const QString list = "|" + roms + "|nes|nes|Nintendo NES||0||" + tmp_->path() +
                         "/out.dat||1|1|1|1|1";
    {
      Session s(home_);
      QSignalSpy ends(s.window.get(), &MainWindow::programEnds);
      s.window->StartCommandLine({list});
      QVERIFY(ends.wait(kRunTimeoutMs));
      QCOMPARE(ends.at(0).at(0).toInt(), 0);
      QCOMPARE(s.window->exit_status(), 0);
      QVERIFY(ReadBytes(tmp_->path() + "/out.dat").contains("\tname Alpha\r\n"));
    }
    {
      Session s(home_);
      QSignalSpy ends(s.window.get(), &MainWindow::programEnds);
      QString zipped = list;
      // Zipped ROMs are scanned: a folder without archives gives a dat of no games.
      s.window->StartCommandLine({zipped.replace("|nes|nes|", "|zip|nes|")});
      QVERIFY(ends.wait(kRunTimeoutMs));
      QCOMPARE(ends.at(0).at(0).toInt(), 0);
      QVERIFY(s.messages.empty());
      QVERIFY(!ReadBytes(tmp_->path() + "/out.dat").contains("\tname Alpha\r\n"));
    }
    {
      Session s(home_);
      QSignalSpy ends(s.window.get(), &MainWindow::programEnds);
      QSignalSpy done(s.window.get(), &MainWindow::commandFinished);
      QString shown_system;
      s.window->SetMessageFunction([&](const QString& title, const QString& text) {
        s.messages.push_back({title, text});
        shown_system = s.Combo("cmbHName")->currentText();
      });
      s.window->StartCommandLine({"|||nes|||0||||1|1|1|1|1"});
      QVERIFY(done.wait(kRunTimeoutMs));
      QCOMPARE(shown_system, QString("nes"));  // the loaded settings show behind the message
      QCOMPARE(s.messages.size(), size_t{1});
      QCOMPARE(s.messages[0].title, QString("Data Missing"));
      QCOMPARE(ends.count(), 0);  // left open; the next completed run ends the program
      s.Edit("txtRom")->setText(roms);
      s.Edit("txtExtension")->setText("nes");
      QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
      QVERIFY(ends.wait(kRunTimeoutMs));
      QCOMPARE(ends.at(0).at(0).toInt(), 0);
    }
  }

  void MalformedCommandLineEndsAsAUsageError() {
    Session s(home_);
    QSignalSpy ends(s.window.get(), &MainWindow::programEnds);
    s.window->StartCommandLine({"|only|three"});
    QCOMPARE(ends.count(), 1);
    QCOMPARE(ends.at(0).at(0).toInt(), quorvin::kExitUsage);
    QCOMPARE(s.messages.size(), size_t{1});
    QVERIFY(!QFile::exists(home_ + "/presets/lastused.pre"));
  }

  // The real program, as a script starts it: the same dat as quorvin-cli, and exit status 0.
  void ProgramWritesTheSameDatAsTheHeadlessOne() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    WriteBytes(roms + "/Beta.nes", "defg");
    QStringList outputs;
    for (const char* program : {QUORVIN_GUI, QUORVIN_CLI}) {
      const QString out = tmp_->path() + "/" + QFileInfo(program).fileName() + ".dat";
      QProcess p;
      QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
      env.insert("QUORVIN_HOME", tmp_->path() + "/home-" + QFileInfo(program).fileName());
      env.insert("QT_QPA_PLATFORM", "offscreen");
      p.setProcessEnvironment(env);
      p.start(program, {"-save", "|" + roms + "|nes|nes|Nintendo NES||0||" + out + "||1|1|1|1|1"});
      QVERIFY(p.waitForFinished(kRunTimeoutMs));
      QCOMPARE(p.exitStatus(), QProcess::NormalExit);
      QVERIFY2(p.exitCode() == 0, p.readAllStandardError().constData());
      outputs.push_back(QString::fromUtf8(ReadBytes(out)));
    }
    QVERIFY(outputs[0].contains("name Beta"));
    QCOMPARE(outputs[0], outputs[1]);
  }

  void ReadMeOpensTheFileBesideTheProgramOrTheInstalledOne() {
    Session s(home_);
    const QStringList candidates = s.window->ReadmeCandidates();
    QVERIFY(candidates.size() >= 3);
    QCOMPARE(candidates[0], QDir::cleanPath(QCoreApplication::applicationDirPath() + "/readme.txt"));
    QCOMPARE(candidates[1], QDir::cleanPath(home_ + "/readme.txt"));
    QVERIFY(candidates.last().endsWith("share/doc/quorvin/readme.txt"));
    QString opened;
    s.window->SetOpenFunction([&](const QString& path) {
      opened = path;
      return true;
    });
    WriteBytes(home_ + "/readme.txt", "hello");
    QTest::mouseClick(s.Button("cmdReadme"), Qt::LeftButton);
    if (QFile::exists(candidates[0])) {
      QCOMPARE(opened, candidates[0]);
    } else {
      QCOMPARE(opened, candidates[1]);
    }
  }

  void AboutBoxIsOneModelessWindowClosedByOk() {
    Session s(home_);
    s.window->show();
    QTest::mouseClick(s.Button("cmdAbout"), Qt::LeftButton);
    QTest::mouseClick(s.Button("cmdAbout"), Qt::LeftButton);
    const auto boxes = s.window->findChildren<QDialog*>("frmAbout");
    QCOMPARE(boxes.size(), 1);
    QDialog* about = boxes[0];
    QVERIFY(about->isVisible());
    QVERIFY(!about->isModal());
    QCOMPARE(about->windowTitle(), QString("About"));
    QCOMPARE(about->findChild<QLabel*>("Label1")->text(), QString("Quorvin"));
    QCOMPARE(about->findChild<QLabel*>("Label2")->text(),
             QString("Dat Generator / Info Injector / Good Renamer"));
    QCOMPARE(about->findChild<QLabel*>("Label3")->text(), QString("Version 1.0"));
    QVERIFY(about->findChild<QLabel*>("Label4")->text().endsWith("2004"));
    QVERIFY(!about->findChild<QLabel*>("imgAbout")->pixmap().isNull());
    QCOMPARE(about->palette().color(QPalette::Window), QColor(Qt::white));
    QTest::mouseClick(about->findChild<QPushButton*>("cmdOk"), Qt::LeftButton);
    QTRY_COMPARE(s.window->findChildren<QDialog*>("frmAbout").size(), 0);
  }

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  QString home_;
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
