// quorvin: the window. Without arguments it comes up with the settings of the last session;
// with a command line (a settings list, or -preset NAME) it shows itself, runs at once, and
// ends by itself when the run is over.

#include <QApplication>
#include <QIcon>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

#include "platform/status.h"
#include "run/startup.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);  // takes Qt's own options (-platform, -style ...) out of argv
  QApplication::setApplicationName(QStringLiteral("Quorvin"));
  QApplication::setApplicationVersion(QStringLiteral("1.0.0"));
  quorvin::ui::InitResources();
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/quorvin/quorvin-256.png")));

  const std::string folder =
      quorvin::ResolveProgramFolder(quorvin::ui::FromQt(QCoreApplication::applicationDirPath()));
  if (quorvin::Status s = quorvin::PrepareProgramFolder(folder); !s.ok()) {
    QMessageBox::critical(nullptr, quorvin::ui::ToQt(s.Title()), quorvin::ui::ToQt(s.message()));
    return quorvin::kExitStopped;
  }

  quorvin::ui::MainWindow window(folder);
  QObject::connect(&window, &quorvin::ui::MainWindow::programEnds, &app,
                   [](int status) { QCoreApplication::exit(status); });
  // The arguments as bytes, straight from argv (QApplication has taken its own options out):
  // a path that is not UTF-8 must reach the run as it was typed.
  std::vector<std::string> arguments(argv + 1, argv + argc);
  if (arguments.empty()) {
    window.StartInteractive();
    window.show();
  } else {
    window.show();
    // Once the window is on screen, so that the run's messages have it as their owner.
    QTimer::singleShot(0, &window,
                       [&window, arguments] { window.StartCommandLineArgs(arguments); });
  }
  QApplication::exec();
  return window.exit_status();
}
