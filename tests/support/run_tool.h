#pragma once

// Runs a program the way a shell would, optionally under an address-space
// limit, and collects what it printed and how it ended.

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

struct ToolOptions {
  std::string program;                    // path of the executable
  std::vector<std::string> args;          // arguments after the program name
  std::string workDir;                    // empty: the caller's directory
  // Set in (or, with an empty value, removed from) the environment on top
  // of the caller's, after LC_ALL=C.UTF-8 and with Qt's logging settings
  // removed.
  std::vector<std::pair<std::string, std::string>> env;
  unsigned long long addressSpaceLimit = 0;  // bytes for RLIMIT_AS; 0: none
  int timeoutMs = 60000;                  // then the child is killed
};

struct ToolRun {
  bool started = false;
  bool timedOut = false;
  bool signaled = false;  // ended by a signal (a crash or the timeout)
  int exitCode = -1;      // when it exited by itself
  int signal = 0;
  std::string out;
  std::string err;

  // The process ended by itself, without a signal, with `code`.
  bool exitedWith(int code) const { return started && !timedOut && !signaled && exitCode == code; }
  // Standard error split into lines, the final line end dropped.
  std::vector<std::string> errLines() const;
  // One line for failure messages: how it ended and what it printed.
  std::string describe() const;
};

ToolRun runTool(const ToolOptions& options);

// Starts `options.program` with standard output and error discarded and
// returns its process id, or -1. For tests that look at a running process;
// the caller must end it with stopTool.
pid_t startTool(const ToolOptions& options);
// Kills and reaps a process started by startTool.
void stopTool(pid_t pid);

// The virtual memory size (VmSize) of a running process in bytes, 0 when
// it cannot be read.
unsigned long long virtualMemorySize(pid_t pid);
