#include "app/run.h"

#include <QCoreApplication>

#include <cstdio>
#include <new>

int main(int argc, char** argv) {
  installLogHandler();
  try {
    QCoreApplication application(argc, argv);
    // All the work is done here; there is nothing to wait for in an event
    // loop, so the process ends as soon as the file is written.
    return runCommandLine(argc, argv);
  } catch (const std::bad_alloc&) {
    // Memory ran out before the run began; the log handler may need memory
    // itself, so the line is written directly.
    std::fputs("Out of memory\n", stderr);
    return 1;
  }
}
