#pragma once

// Lets GoogleTest print Qt texts readably in failure messages.

#include <QString>
#include <QStringList>

#include <ostream>

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

inline void PrintTo(const QStringList& lines, std::ostream* os) {
  *os << '{';
  for (int i = 0; i < lines.size(); ++i) {
    *os << (i ? ", " : " ");
    PrintTo(lines[i], os);
  }
  *os << " }";
}
