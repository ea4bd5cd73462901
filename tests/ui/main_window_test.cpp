// The window driven as a user drives it: controls found by their names, messages caught
// through the window's message function instead of a modal box. The rules behind the controls
// are the window model's, tested without Qt; these tests check what the Qt view adds: the
// controls, their wiring to the model both ways, and a window that stays alive during a run.

#include "ui/main_window.h"

#include <QAbstractButton>
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

// A window on a program folder of its own, whose messages are recorded.
struct Session {
  explicit Session(const QString& home) {
    QDir().mkpath(home + "/presets");
    QDir().mkpath(home + "/conversions");
    window = std::make_unique<MainWindow>(quorvin::ui::FromQt(home));
    window->SetMessageFunction([this](const QString& title, const QString& text) {
      messages.push_back(title + ": " + text);
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
  // The line the user types into: a text box's own, or the system box's.
  QLineEdit* TextBox(const char* name) const {
    auto* box = window->findChild<QComboBox*>(QString::fromLatin1(name));
    return box != nullptr ? box->lineEdit() : Edit(name);
  }
  // What a control shows: its text, or "1"/"0" for a check box.
  QString Shown(const char* name) const {
    if (auto* c = window->findChild<QCheckBox*>(QString::fromLatin1(name))) {
      return c->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
    }
    return TextBox(name)->text();
  }
  // Clicks a button and waits until the command it started has ended.
  bool ClickAndWait(const char* button) {
    QSignalSpy done(window.get(), &MainWindow::commandFinished);
    QTest::mouseClick(Button(button), Qt::LeftButton);
    return done.count() > 0 || done.wait(kRunTimeoutMs);
  }

  std::unique_ptr<MainWindow> window;
  QStringList messages;  // "title: text"
};

QStringList Files(const QString& folder) { return QDir(folder).entryList(QDir::Files, QDir::Name); }

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
    QCOMPARE(s.window->objectName(), QString("Form1"));
    QCOMPARE(s.window->windowTitle(),
             QString("Quorvin:   Supplimentary Info Injector / Dat File Generator / Good Renamer"));
    const std::vector<std::pair<const char*, const char*>> captions = {
        {"cmdStart", "&Start"},
        {"cmdSave", "Save Settings as Preset"},
        {"cmdRevert", "Revert All Changes"},
        {"cmdReadme", "Read Me First"},
        {"cmdAbout", "About"},
        {"cmdMessBrowse", "Browse"},
        {"cmdDkBrowse", "Browse"},
        {"Command1", "Browse"},
        {"chkVerify", "Verify zip contents"},
        {"chkRehash", "Rehash all files"}};
    for (const auto& [name, caption] : captions) {
      QCOMPARE(s.Find<QAbstractButton>(name)->text(), QString(caption));
    }
    for (const char* name : {"chkMakeCfg", "chkRomAdd", "chkArtwork", "chkVdirAdd", "chkDatAdd"}) {
      QVERIFY2(s.Check(name)->isChecked(), name);
    }
    for (const char* name : {"chkCvtRoms", "chkVerify", "chkRehash"}) {
      QVERIFY2(!s.Check(name)->isChecked(), name);
    }
    QVERIFY(s.Combo("cmbHName")->isEditable());
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("For a Non-Mess System Type it in"));
    QVERIFY(!s.Combo("cmbPresets")->isEditable());
    QCOMPARE(s.Status(), QString("Status: Ready"));
    // The bold word on the Dragon King frame's caption, as the screenshots show it.
    QCOMPARE(s.Find<QLabel>("Label10")->text(), QString("ONLY"));
    QVERIFY(s.Find<QLabel>("Label10")->font().bold());
    for (const char* name : {"FraMess", "FrmPreset", "fraDatGen", "frmRenaming", "frmDk"}) {
      QVERIFY2(s.window->findChild<QWidget*>(name) != nullptr, name);
    }
  }

  // Every setting through its own control, one at a time, each in a window of its own: what
  // the user gives a control reaches its own setting and no other (the settings a close
  // keeps), and the next window shows every setting in its own control. Settings are bytes:
  // those the user leaves alone (Latin-1 names here, not UTF-8) come back byte for byte.
  void EachControlKeepsItsOwnSettingFromWindowToWindow() {
    struct Field {
      const char* name;  // in the order of the preset's lines
      QByteArray before;
      QString typed;  // empty: a check box, clicked
      QByteArray after;
    };
    const std::vector<Field> fields = {
        {"txtMessPath", "/mess/", "/m2/", "/m2/"},
        {"txtRom", "/roms/caf\xe9 n\xe8s", "/my roms", "/my roms"},
        {"txtExtension", "zip", ".gbax", ".gba"},  // at most four typed characters
        {"cmbHName", "sys\xff", "gameboy", "gameboy"},
        {"txtDesc", "D\xe9sc", "Game Boy", "Game Boy"},
        {"txtAuthor", "", "Me", "Me"},
        {"chkCvtRoms", "0", "", "1"},
        {"txtRenamePaths", "/art/\xe9", "/art/gb", "/art/gb"},
        {"txtOutput", "/out/\xe9.dat", "/out/gb.dat", "/out/gb.dat"},
        {"txtDkPath", "", "/dk", "/dk"},
        {"chkMakeCfg", "1", "", "0"},
        {"chkRomAdd", "1", "", "0"},
        {"chkArtwork", "1", "", "0"},
        {"chkVdirAdd", "1", "", "0"},
        {"chkDatAdd", "1", "", "0"},
        {"chkVerify", "0", "", "1"},  // the zip check, which a preset of fifteen lines leaves off
    };
    const QString lastused = home_ + "/presets/lastused.pre";
    QByteArray start;
    for (size_t i = 0; i + 1 < fields.size(); ++i) start += fields[i].before + "\r\n";
    WriteBytes(lastused, start);
    std::vector<QByteArray> expected;
    for (const Field& f : fields) expected.push_back(f.before);

    for (size_t step = 0;; ++step) {
      Session s(home_);
      s.window->StartInteractive();
      s.window->show();
      QStringList shown, want;
      for (size_t i = 0; i < fields.size(); ++i) {
        shown.push_back(s.Shown(fields[i].name));
        want.push_back(QString::fromUtf8(expected[i]));
      }
      QCOMPARE(shown, want);
      if (step == fields.size()) {
        QCOMPARE(Items(s.Combo("cmbPresets")), QStringList({"lastused"}));
        break;
      }
      const Field& f = fields[step];
      if (f.typed.isEmpty()) {
        QCheckBox* box = s.Check(f.name);
        QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(4, box->height() / 2));
      } else {
        s.TextBox(f.name)->clear();
        QTest::keyClicks(s.TextBox(f.name), f.typed);
      }
      expected[step] = f.after;
      QVERIFY(s.window->close());
      // Check values are written as numbers are, with a blank on each side.
      QByteArray saved;
      for (size_t i = 0; i < fields.size(); ++i) {
        saved += (fields[i].typed.isEmpty() ? " " + expected[i] + " " : expected[i]) + "\r\n";
      }
      QCOMPARE(ReadBytes(lastused), saved);
    }
  }

  // The system list follows the MESS folder as it is typed, and refilling it keeps what the
  // box shows. Each Browse button asks with its own title, starting from its box, and fills
  // that box only when something was chosen.
  void BrowseButtonsAndTheMessFolderFillTheirBoxes() {
    const QString mess = tmp_->path() + "/mess/";
    const QString mess2 = tmp_->path() + "/mess2";
    WriteBytes(mess + "crc/nes.crc", "[nes]\r\n");
    WriteBytes(mess + "crc/a2600.crc", "[a2600]\r\n");
    WriteBytes(mess2 + "/crc/coleco.crc", "[coleco]\r\n");
    Session s(home_);
    QTest::keyClicks(s.Edit("txtMessPath"), mess);
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"a2600", "nes"}));
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("For a Non-Mess System Type it in"));

    QString answer, asked;
    s.window->SetFolderFunction([&](const QString& initial, const QString& title) {
      asked = initial + "|" + title;
      return answer;
    });
    s.window->SetFileFunction([&](const QString& initial) {
      asked = initial + "|save";
      return answer;
    });
    struct Case {
      const char* button;
      const char* box;
      QString answer;  // empty: cancelled
      QString expected;
      QString title;
    };
    const QString mess_title = "Locate Folder Containing MESS";
    const QString dk_title = "Locate Folder Containing Dragon King";
    const std::vector<Case> cases = {
        {"cmdMessBrowse", "txtMessPath", "", mess, mess_title},
        {"cmdMessBrowse", "txtMessPath", mess2, mess2 + "/", mess_title},
        {"cmdDkBrowse", "txtDkPath", "/dk", "/dk", dk_title},
        {"cmdDkBrowse", "txtDkPath", "", "/dk", dk_title},
        {"Command1", "txtOutput", "/new/out.dat", "/new/out.dat", "save"},
        {"Command1", "txtOutput", "", "/new/out.dat", "save"},
    };
    for (const Case& c : cases) {
      const QString before = s.Edit(c.box)->text();
      answer = c.answer;
      QTest::mouseClick(s.Button(c.button), Qt::LeftButton);
      QCOMPARE(asked, before + "|" + c.title);
      QCOMPARE(s.Edit(c.box)->text(), c.expected);
    }
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"coleco"}));
  }

  // Save names the preset after the system and lists it with no entry chosen; picking an
  // entry shows that preset, with the system list of its MESS folder.
  void PresetsAreSavedListedAndPicked() {
    const QString mess = tmp_->path() + "/mess/";
    WriteBytes(mess + "crc/nes.crc", "[nes]\r\n");
    Session s(home_);
    s.window->StartInteractive();
    s.Edit("txtMessPath")->setText(mess);
    s.Combo("cmbHName")->setEditText("nes");
    QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
    const QString other = tmp_->path() + "/other/";
    WriteBytes(other + "crc/snes.crc", "[snes]\r\n");
    s.Edit("txtMessPath")->setText(other);
    s.Combo("cmbHName")->setEditText("a");
    QTest::mouseClick(s.Button("cmdSave"), Qt::LeftButton);
    QComboBox* presets = s.Combo("cmbPresets");
    QCOMPARE(Items(presets), QStringList({"a", "nes"}));
    QCOMPARE(presets->currentIndex(), -1);
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"snes"}));
    presets->setCurrentIndex(1);
    emit presets->activated(1);
    QCOMPARE(s.Edit("txtMessPath")->text(), mess);
    QCOMPARE(s.Combo("cmbHName")->currentText(), QString("nes"));
    QCOMPARE(Items(s.Combo("cmbHName")), QStringList({"nes"}));
    QVERIFY(s.messages.empty());
  }

  // The sample collection through the window: a run gives the ROMs and artwork their good
  // names, and Revert gives every file its earlier name back exactly.
  void ExampleCollectionRunsAndReverts() {
    const QString ex = tmp_->path() + "/ex";
    QCOMPARE(QProcess::execute("cp", {"-R", QUORVIN_EXAMPLES, ex}), 0);
    const QStringList roms_before = Files(ex + "/roms/nes");
    const QStringList art_before = Files(ex + "/artwork/nes");
    Session s(home_);
    const std::vector<std::pair<const char*, QString>> values = {
        {"txtMessPath", ex + "/mess/"}, {"txtRom", ex + "/roms/nes"},
        {"txtExtension", "nes"},        {"txtRenamePaths", ex + "/artwork/nes"},
        {"txtOutput", ex + "/nes.dat"}, {"txtDkPath", ex + "/dk"}};
    for (const auto& [name, value] : values) s.Edit(name)->setText(value);
    s.Combo("cmbHName")->setEditText("nes");
    s.Check("chkCvtRoms")->setChecked(true);

    QVERIFY(s.ClickAndWait("cmdStart"));
    QVERIFY2(s.messages.empty(), qPrintable(s.messages.join("\n")));
    QCOMPARE(s.Status(), QString("Status:  Done"));
    QVERIFY(ReadBytes(ex + "/nes.dat").contains("\tname \"Quorvin Demo Adventure (U)\"\r\n"));
    QVERIFY(Files(ex + "/roms/nes").contains("Quorvin Demo Adventure (U).nes"));
    QVERIFY(Files(ex + "/artwork/nes").contains("Blaster Zone (E) [!].png"));
    QVERIFY(s.ClickAndWait("cmdRevert"));
    QCOMPARE(s.Status(), QString("Status:  Reversion Complete"));
    QCOMPARE(Files(ex + "/roms/nes"), roms_before);
    QCOMPARE(Files(ex + "/artwork/nes"), art_before);
    QVERIFY(s.messages.empty());
  }

  // Something skipped on the way: the run completes, and the status line and its tip say so.
  // The window draws "Rehash all files" from the model after every run, so the box stays
  // checked only if the model took it.
  void RunsShowWarningsAndTakeTheRehashBox() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    Session s(home_);
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    s.Combo("cmbHName")->setEditText("nes");
    s.Edit("txtRenamePaths")->setText(tmp_->path() + "/no such art");
    s.Check("chkRehash")->setChecked(true);
    QVERIFY(s.ClickAndWait("cmdStart"));
    QVERIFY(s.messages.empty());
    QVERIFY2(s.Status().contains("completed with 1 warning"), qPrintable(s.Status()));
    QVERIFY(s.Find<QLabel>("lStatus")->toolTip().contains("no such art"));
    QVERIFY(s.Check("chkRehash")->isChecked());
  }

  // A run of ten thousand files: the window's own timers keep firing, the progress bar moves,
  // every input is disabled until the run ends, a close is put to the user first ("no": the
  // run goes on), and the settings the run completed are shown afterwards. After a "yes" the
  // window closes once the run has stopped, and keeps the settings.
  void LongRunKeepsTheWindowAliveAndClosesWhenItHasStopped() {
    const QString roms = tmp_->path() + "/roms";
    for (int i = 0; i < kManyFiles; ++i) {
      WriteBytes(QString("%1/game %2.nes").arg(roms).arg(i, 5, 10, QChar('0')),
                 QByteArray::number(i));
    }
    Session s(home_);
    s.window->show();
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    s.Combo("cmbHName")->setEditText("nes");
    int asked = 0;
    bool answer = false;
    s.window->SetConfirmFunction([&](const QString&, const QString&) {
      ++asked;
      return answer;
    });
    int disabled_ticks = 0;
    int progress_seen = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
      if (!s.window->running()) return;
      if (!s.Button("cmdStart")->isEnabled() && !s.Edit("txtRom")->isEnabled() &&
          !s.Combo("cmbPresets")->isEnabled() && !s.Check("chkCvtRoms")->isEnabled()) {
        ++disabled_ticks;
      }
      if (s.Find<QProgressBar>("progressBar")->value() > 0) ++progress_seen;
    });
    timer.start(5);
    QSignalSpy done(s.window.get(), &MainWindow::commandFinished);
    QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
    QVERIFY(!s.Button("cmdStart")->isEnabled());
    QVERIFY(!s.window->close());
    QCOMPARE(asked, 1);
    QVERIFY(s.window->running());
    QVERIFY(done.wait(kRunTimeoutMs));
    timer.stop();
    QVERIFY2(disabled_ticks >= 3, qPrintable(QString::number(disabled_ticks)));
    QVERIFY(progress_seen >= 1);  // the bar moved during the scan
    QVERIFY(s.Button("cmdStart")->isEnabled());
    QVERIFY(s.Edit("txtRom")->isEnabled());
    QCOMPARE(s.Status(), QString("Status:  Done"));
    QVERIFY(s.messages.empty());
    QCOMPARE(s.Edit("txtExtension")->text(), QString(".nes"));
    QCOMPARE(s.Edit("txtOutput")->text(), QDir(home_).filePath("default.dat"));

    answer = true;
    QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
    QVERIFY(!s.window->close());
    QVERIFY(done.count() > 1 || done.wait(kRunTimeoutMs));
    QTRY_VERIFY(!s.window->isVisible());
    QVERIFY(ReadBytes(home_ + "/presets/lastused.pre").contains(roms.toUtf8()));
  }

  // Started with a command line, the window runs at once. A "Data Missing" stop leaves it open
  // for the user, with the loaded settings shown behind the message; the next run that ends
  // ends the program, with its status.
  void CommandLineStartEndsTheProgramWithTheRunsStatus() {
    const QString roms = tmp_->path() + "/roms";
    WriteBytes(roms + "/Alpha.nes", "abc");
    Session s(home_);
    QSignalSpy ends(s.window.get(), &MainWindow::programEnds);
    QSignalSpy done(s.window.get(), &MainWindow::commandFinished);
    QString shown_system;
    s.window->SetMessageFunction([&](const QString& title, const QString& text) {
      s.messages.push_back(title + ": " + text);
      shown_system = s.Combo("cmbHName")->currentText();
    });
    s.window->StartCommandLine({"|||nes|||0||||1|1|1|1|1"});
    QVERIFY(done.wait(kRunTimeoutMs));
    QCOMPARE(shown_system, QString("nes"));
    QCOMPARE(s.messages,
             QStringList({"Data Missing: Rom Paths is a required Field, Fill it out Please"}));
    QCOMPARE(ends.count(), 0);
    s.Edit("txtRom")->setText(roms);
    s.Edit("txtExtension")->setText("nes");
    QTest::mouseClick(s.Button("cmdStart"), Qt::LeftButton);
    QVERIFY(ends.wait(kRunTimeoutMs));
    QCOMPARE(ends.at(0).at(0).toInt(), 0);
    QCOMPARE(s.window->exit_status(), 0);
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
    QCOMPARE(candidates[0],
             QDir::cleanPath(QCoreApplication::applicationDirPath() + "/readme.txt"));
    QCOMPARE(candidates[1], QDir::cleanPath(home_ + "/readme.txt"));
    QVERIFY(candidates.last().endsWith("share/doc/quorvin/readme.txt"));
    QString opened;
    s.window->SetOpenFunction([&](const QString& path) {
      opened = path;
      return true;
    });
    WriteBytes(home_ + "/readme.txt", "hello");
    QTest::mouseClick(s.Button("cmdReadme"), Qt::LeftButton);
    QCOMPARE(opened, QFile::exists(candidates[0]) ? candidates[0] : candidates[1]);
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
