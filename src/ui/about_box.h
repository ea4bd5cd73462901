#pragma once

#include <QDialog>

namespace quorvin::ui {

// The about box (`frmAbout`): a small white window with the program's picture, its name, its
// jobs, its version and a credit line, and an "Ok" button that closes it. It is not modal,
// and it deletes itself when closed.
class AboutBox : public QDialog {
  Q_OBJECT

 public:
  explicit AboutBox(QWidget* parent);
};

}  // namespace quorvin::ui
