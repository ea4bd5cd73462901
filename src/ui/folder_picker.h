#pragma once

#include <QString>

class QWidget;

namespace quorvin::ui {

// Shows a modal folder chooser over `owner`, opened at `initial` when that folder exists,
// with `title` as its title line. Returns the chosen folder's path, or an empty text when the
// user cancelled or chose something that is not a local folder.
QString PickFolder(const QString& initial, const QString& title, QWidget* owner);

// Shows a modal save dialog for a dat file, opened at `initial`, with the filters
// "clrMamePro Dat Files (.dat)" (*.dat, first) and "XML Dat Files (.xml)" (*.xml). Returns
// the chosen path (".xml" added to a name without an extension chosen under the XML filter),
// or an empty text when the user cancelled.
QString PickOutputFile(const QString& initial, QWidget* owner);

}  // namespace quorvin::ui
