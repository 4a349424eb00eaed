#include "app/command_line.h"

#include <QtGlobal>

#include <cstring>

Request requestOf(const char* argument) {
  if (std::strcmp(argument, "-h") == 0 || std::strcmp(argument, "--help") == 0) return Request::Help;
#if defined(Q_OS_WIN)
  if (std::strcmp(argument, "/?") == 0) return Request::Help;
#endif
  if (std::strcmp(argument, "--version") == 0) return Request::Version;
  return Request::Convert;
}
