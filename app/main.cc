#include "app/run.h"
#include "platform/console_wait.h"
#include "platform/local_encoding.h"
#include "platform/replacing_file.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

// Ends the process with `status` once everything is written, without
// freeing anything: freeing the stores record by record (hundreds of
// thousands of names and measurement lists in a large block) takes longer
// than the system's taking back all of the process's memory at once. Builds
// that check for leaks at exit end as usual instead, so that the check sees
// the program's real leaks.
void endWithoutFreeing(int status) {
#if !defined(__SANITIZE_ADDRESS__)
  std::fflush(nullptr);
  std::_Exit(status);
#else
  static_cast<void>(status);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  // Asked first, before anything can attach to the console: how the process
  // was started decides whether the window waits for a key after the run.
  const bool fromExplorer = startedFromExplorer(systemConsoleStart());
#ifdef SIGXFSZ
  // Beyond a file-size limit (ulimit -f) a write then fails with "File too
  // large" and is reported like any other write failure, instead of the
  // signal ending the process without a word and leaving a partial file.
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  // An interrupted run leaves no temporary file behind.
  installInterruptCleanup();
  installLogHandler();
  try {
    QCoreApplication application(argc, argv);
    // The application object has set the locale from the environment.
    useLocaleEncoding();
    // All the work is done here; there is nothing to wait for in an event
    // loop, so the process ends as soon as the file is written, unless
    // Explorer made the console, which would close with the log unread.
    const int status = runCommandLine(argc, argv);
    if (fromExplorer) holdWindowForExplorer(argc < 2);
    endWithoutFreeing(status);
    return status;
  } catch (const std::bad_alloc&) {
    // Memory ran out before the run began; the log handler may need memory
    // itself, so the line is written directly.
    std::fputs("Out of memory\n", stderr);
    return 1;
  }
}
