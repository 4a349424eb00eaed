#include "app/command_line.h"

#include <QtGlobal>

Request requestOf(const QString& argument) {
  if (argument == QLatin1String("-h") || argument == QLatin1String("--help")) return Request::Help;
#if defined(Q_OS_WIN)
  if (argument == QLatin1String("/?")) return Request::Help;
#endif
  if (argument == QLatin1String("--version")) return Request::Version;
  return Request::Convert;
}
