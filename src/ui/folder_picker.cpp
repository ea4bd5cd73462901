#include "ui/folder_picker.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace quorvin::ui {

QString PickFolder(const QString& initial, const QString& title, QWidget* owner) {
  // A start folder that does not exist leaves the dialog at its own default.
  QUrl start;
  if (!initial.isEmpty() && QFileInfo(initial).isDir()) start = QUrl::fromLocalFile(initial);
  const QUrl chosen =
      QFileDialog::getExistingDirectoryUrl(owner, title, start, QFileDialog::ShowDirsOnly);
  // Cancel, and a place with no path on disk (a network location, say), leave the box alone.
  if (chosen.isEmpty() || !chosen.isLocalFile()) return QString();
  return chosen.toLocalFile();
}

QString PickOutputFile(const QString& initial, QWidget* owner) {
  const QString text_filter = QStringLiteral("clrMamePro Dat Files (.dat) (*.dat)");
  const QString xml_filter = QStringLiteral("XML Dat Files (.xml) (*.xml)");
  QString chosen_filter;
  QString path = QFileDialog::getSaveFileName(
      owner, QString(), initial, text_filter + QStringLiteral(";;") + xml_filter, &chosen_filter);
  // The name's ending chooses the dat's format: a name typed without one under the XML
  // filter gets it, or the dat would be written as text.
  if (!path.isEmpty() && chosen_filter == xml_filter && QFileInfo(path).suffix().isEmpty())
    path += QStringLiteral(".xml");
  return path;
}

}  // namespace quorvin::ui
