#pragma once

#include <QComboBox>
#include <QLineEdit>
#include <QString>
#include <QVariant>
#include <string>
#include <string_view>

// The core keeps texts as the bytes the user's files hold; the window shows them as UTF-8,
// the encoding of file names on this platform. Every conversion goes through these two.
namespace quorvin::ui {

inline QString ToQt(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string FromQt(const QString& s) { return s.toUtf8().toStdString(); }

// A text box that gives back the very bytes it was given while the user leaves it as shown.
// Paths and names from presets are bytes; those that are not UTF-8 (a folder named in
// Latin-1) are shown with replacement characters, and would be saved that way without this.
inline constexpr const char* kBytesProperty = "quorvinBytes";
inline constexpr const char* kShownProperty = "quorvinShown";

inline void SetBytes(QLineEdit* edit, std::string_view bytes) {
  const QString shown = ToQt(bytes);
  edit->setText(shown);
  edit->setProperty(kBytesProperty, QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
  edit->setProperty(kShownProperty, shown);
}

inline std::string GetBytes(const QLineEdit* edit) {
  const QString text = edit->text();
  if (edit->property(kShownProperty).toString() == text &&
      edit->property(kBytesProperty).isValid()) {
    return edit->property(kBytesProperty).toByteArray().toStdString();
  }
  return FromQt(text);
}

// The same for the entries of a list: each keeps its bytes as item data.
inline void AddItemBytes(QComboBox* box, std::string_view bytes) {
  box->addItem(ToQt(bytes), QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
}

inline std::string ItemBytes(const QComboBox* box, int index) {
  const QVariant data = box->itemData(index);
  return data.isValid() ? data.toByteArray().toStdString() : FromQt(box->itemText(index));
}

}  // namespace quorvin::ui
