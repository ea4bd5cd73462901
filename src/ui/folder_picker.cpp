#include "ui/folder_picker.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace quorvin::ui {

QString PickFolder(const QString& initial, const QString& title, QWidget* owner) {
  // A start folder that does not exist leaves the dialog at its own default.
  QUrl start;
  if (!initial.isEmpty() && QFileInfo(initial).isDir()) start = QUrl::fromLocalFile(initial);
  const QUrl chosen = QFileDialog::getExistingDirectoryUrl(owner, title, start,
                                                           QFileDialog::ShowDirsOnly);
  // Cancel, and a place with no path on disk (a network location, say), leave the box alone.
  if (chosen.isEmpty() || !chosen.isLocalFile()) return QString();
  return chosen.toLocalFile();
}

QString PickOutputFile(const QString& initial, QWidget* owner) {
  return QFileDialog::getSaveFileName(owner, QString(), initial,
                                      QStringLiteral("clrMamePro Dat Files (.dat) (*.dat)"));
}

}  // namespace quorvin::ui
