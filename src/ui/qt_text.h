#pragma once

#include <QString>
#include <string>
#include <string_view>

// The core keeps texts as the bytes the user's files hold; the window shows them as UTF-8,
// the encoding of file names on this platform. Every conversion goes through these two.
namespace quorvin::ui {

inline QString ToQt(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline std::string FromQt(const QString& s) { return s.toUtf8().toStdString(); }

}  // namespace quorvin::ui
