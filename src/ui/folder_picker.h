#pragma once

#include <QString>

class QWidget;

namespace quorvin::ui {

// Shows a modal folder chooser over `owner`, opened at `initial` when that folder exists,
// with `title` as its title line. Returns the chosen folder's path, or an empty text when the
// user cancelled or chose something that is not a local folder.
QString PickFolder(const QString& initial, const QString& title, QWidget* owner);

// Shows a modal save dialog for a dat file ("clrMamePro Dat Files (.dat)", *.dat), opened at
// `initial`. Returns the chosen path, or an empty text when the user cancelled.
QString PickOutputFile(const QString& initial, QWidget* owner);

}  // namespace quorvin::ui
