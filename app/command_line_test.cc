#include "app/command_line.h"

#include <gtest/gtest.h>

#include <QtGlobal>

namespace {

// An option is the exact argument; anything near one names a file.
TEST(RequestTest, OptionsAreExactArguments) {
  EXPECT_EQ(requestOf("-h"), Request::Help);
  EXPECT_EQ(requestOf("--help"), Request::Help);
  EXPECT_EQ(requestOf("--version"), Request::Version);
  for (const char* path : {"./--help", "--HELP", "--help=1", "/?/", "-?", "", " --help"}) {
    EXPECT_EQ(requestOf(QString::fromUtf8(path)), Request::Convert) << path;
  }
#if defined(Q_OS_WIN)
  EXPECT_EQ(requestOf("/?"), Request::Help);
#else
  EXPECT_EQ(requestOf("/?"), Request::Convert);  // a path like any other
#endif
}

}  // namespace
