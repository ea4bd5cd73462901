#include "ui/about_box.h"

#include <QGridLayout>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>

namespace quorvin::ui {

AboutBox::AboutBox(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(QStringLiteral("About"));
  setAttribute(Qt::WA_DeleteOnClose);
  setModal(false);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  pal.setColor(QPalette::WindowText, Qt::black);
  setPalette(pal);
  setAutoFillBackground(true);

  auto* picture = new QLabel(this);
  picture->setObjectName(QStringLiteral("imgAbout"));
  picture->setPixmap(QPixmap(QStringLiteral(":/quorvin/quorvin-256.png"))
                         .scaled(128, 128, Qt::KeepAspectRatio, Qt::SmoothTransformation));
  picture->setAlignment(Qt::AlignTop | Qt::AlignLeft);

  // The texts are a little larger than the window's own, as the box is mostly words.
  QFont big = font();
  big.setPointSizeF(big.pointSizeF() * 12.0 / 9.0);
  auto label = [&](const char* name, const QString& text) {
    auto* l = new QLabel(text, this);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(big);
    l->setWordWrap(true);
    return l;
  };
  QFont title_font = big;
  title_font.setBold(true);
  QLabel* name = label("Label1", QStringLiteral("Quorvin"));
  name->setFont(title_font);
  QLabel* jobs = label("Label2", QStringLiteral("Dat Generator / Info Injector / Good Renamer"));
  QLabel* version = label("Label3", QStringLiteral("Version 1.0"));
  QLabel* credit =
      label("Label4", QStringLiteral("Written for ROM collectors by the Quorvin authors, 2004"));

  auto* ok = new QPushButton(QStringLiteral("Ok"), this);
  ok->setObjectName(QStringLiteral("cmdOk"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::close);

  auto* grid = new QGridLayout(this);
  grid->setContentsMargins(16, 16, 16, 16);
  grid->setHorizontalSpacing(20);
  grid->addWidget(picture, 0, 0, 5, 1);
  grid->addWidget(name, 0, 1);
  grid->addWidget(jobs, 1, 1);
  grid->addWidget(version, 2, 1);
  grid->addWidget(credit, 3, 1);
  grid->addWidget(ok, 4, 1, Qt::AlignLeft);
  grid->setColumnMinimumWidth(1, jobs->fontMetrics().horizontalAdvance(QStringLiteral("Dat Generator / Info Injector")) + 8);
  grid->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace quorvin::ui
