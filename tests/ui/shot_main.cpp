// quorvin-shot: the window as tools/screenshots.sh photographs it. Starts like the program
// without arguments (the "lastused" settings of $QUORVIN_HOME); with "--about" it also opens
// the about box beside the window; with "--start" it presses Start. It stays until it is
// killed.

#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include "run/startup.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const bool about = QCoreApplication::arguments().contains(QStringLiteral("--about"));
  const bool start = QCoreApplication::arguments().contains(QStringLiteral("--start"));
  const std::string folder = quorvin::ResolveProgramFolder(
      quorvin::ui::FromQt(QCoreApplication::applicationDirPath()));
  if (!quorvin::PrepareProgramFolder(folder).ok()) return 1;
  quorvin::ui::MainWindow window(folder);
  window.StartInteractive();
  window.move(0, 0);
  window.show();
  if (about) {
    QTimer::singleShot(300, &window, [&window] {
      window.findChild<QPushButton*>(QStringLiteral("cmdAbout"))->click();
      if (auto* box = window.findChild<QWidget*>(QStringLiteral("frmAbout"))) {
        box->move(window.frameGeometry().right() + 24, 0);
      }
    });
  }
  if (start) {
    QTimer::singleShot(300, &window, [&window] {
      window.findChild<QPushButton*>(QStringLiteral("cmdStart"))->click();
    });
  }
  return QApplication::exec();
}
