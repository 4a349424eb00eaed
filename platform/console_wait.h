#pragma once

// Keeping the console window open for a user who started the tool from
// Explorer (a block file dropped onto block2gci.exe, a double-click, Send To,
// Open with). Windows makes a console for such a process and closes it as
// soon as the process ends, taking the log with it; so after the run the
// tool asks for a key first. Started in any other way (a console, a script,
// `start`, the Task Scheduler, a service, with a stream redirected, or
// outside Windows) it never waits and writes nothing more.

#include <QString>

// What a process can learn about how it was started.
struct ConsoleStart {
  // Whether standard input, output and error are each a console.
  bool inputIsConsole = false;
  bool outputIsConsole = false;
  bool errorIsConsole = false;
  // How many processes are attached to the process's console, itself
  // included; 0 when it has none or the system cannot tell.
  int processesOnConsole = 0;
  // The file name of the parent process's program, such as "explorer.exe";
  // empty when unknown.
  QString parentName;
};

// Whether Explorer started the process in a console made for it alone: the
// console holds this process only, all three standard streams are that
// console, and the parent's program is explorer.exe (in any case). A
// console shared with a shell, a stream redirected to a file or a pipe, or
// any other parent (cmd.exe after `start`, a script host, a service) means
// someone else reads the log or keeps the window.
bool startedFromExplorer(const ConsoleStart& start);

// The facts of this process. On Windows the parent's name is looked up only
// when the other facts already point to Explorer (a snapshot of every
// process is the costly part); elsewhere nothing is a console.
ConsoleStart systemConsoleStart();

// What is written before the wait: for a run without argument the line that
// says how to use the tool from Explorer, then the request for a key; each
// line ends with "\n".
QString explorerClosingText(bool withoutArgument);

// After the run of a process that startedFromExplorer(): writes
// explorerClosingText(withoutArgument) to standard output and waits for a
// key pressed after it; a key that cannot be read ends the wait at once.
void holdWindowForExplorer(bool withoutArgument);
