#include "app/run.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
  installLogHandler();
  QCoreApplication application(argc, argv);
  // All the work is done here; there is nothing to wait for in an event
  // loop, so the process ends as soon as the file is written.
  return runCommandLine(argc, argv);
}
