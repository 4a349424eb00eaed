#include "tests/support/run_tool.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

extern char** environ;

namespace {

std::vector<std::string> childEnvironment(const ToolOptions& options) {
  std::vector<std::pair<std::string, std::string>> settings = {
      {"LC_ALL", "C.UTF-8"}, {"QT_LOGGING_RULES", ""}, {"QT_LOGGING_CONF", ""}, {"QT_MESSAGE_PATTERN", ""}};
  settings.insert(settings.end(), options.env.begin(), options.env.end());

  std::vector<std::string> env;
  for (char** entry = environ; *entry; ++entry) {
    const std::string text = *entry;
    const std::string name = text.substr(0, text.find('='));
    bool overridden = false;
    for (const auto& setting : settings) overridden = overridden || setting.first == name;
    if (!overridden) env.push_back(text);
  }
  for (const auto& setting : settings) {
    if (setting.second.empty()) continue;
    // A later setting of the same name wins.
    for (auto it = env.begin(); it != env.end();) {
      it = it->compare(0, setting.first.size() + 1, setting.first + "=") == 0 ? env.erase(it) : it + 1;
    }
    env.push_back(setting.first + "=" + setting.second);
  }
  return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
  std::vector<char*> result;
  for (std::string& text : texts) result.push_back(&text[0]);
  result.push_back(nullptr);
  return result;
}

// Everything the child needs is prepared before fork(), so that the child
// only calls async-signal-safe functions.
pid_t spawn(const ToolOptions& options, int outFd, int errFd) {
  std::vector<std::string> argv = {options.program};
  argv.insert(argv.end(), options.args.begin(), options.args.end());
  std::vector<std::string> env = childEnvironment(options);
  std::vector<char*> argvPointers = pointers(argv);
  std::vector<char*> envPointers = pointers(env);
  const int nullFd = open("/dev/null", O_RDONLY | O_CLOEXEC);

  const pid_t pid = fork();
  if (pid != 0) {
    if (nullFd >= 0) close(nullFd);
    return pid;
  }
  if (nullFd >= 0) dup2(nullFd, 0);
  dup2(outFd, 1);
  dup2(errFd, 2);
  if (!options.workDir.empty() && chdir(options.workDir.c_str()) != 0) _exit(126);
  if (options.addressSpaceLimit != 0) {
    const rlimit limit{options.addressSpaceLimit, options.addressSpaceLimit};
    if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
  }
  execve(argvPointers[0], argvPointers.data(), envPointers.data());
  _exit(127);
}

std::string readAll(int fd) {
  std::string text;
  lseek(fd, 0, SEEK_SET);
  char buffer[65536];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  return text;
}

int scratchFile() {
  char name[] = "/tmp/block2gci-run-XXXXXX";
  const int fd = mkstemp(name);
  if (fd >= 0) unlink(name);
  return fd;
}

void pause(long nanoseconds) {
  const timespec delay{0, nanoseconds};
  nanosleep(&delay, nullptr);
}

}  // namespace

std::vector<std::string> ToolRun::errLines() const {
  std::vector<std::string> lines;
  std::istringstream in(err);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string ToolRun::describe() const {
  std::ostringstream text;
  if (!started) {
    text << "not started";
  } else if (timedOut) {
    text << "timed out";
  } else if (signaled) {
    text << "killed by signal " << signal;
  } else {
    text << "exit code " << exitCode;
  }
  std::string shown = err.size() > 4000 ? err.substr(0, 4000) + "..." : err;
  text << "; stderr:\n" << shown;
  return text.str();
}

ToolRun runTool(const ToolOptions& options) {
  ToolRun run;
  const int outFd = scratchFile();
  const int errFd = scratchFile();
  if (outFd < 0 || errFd < 0) return run;

  const pid_t pid = spawn(options, outFd, errFd);
  if (pid > 0) {
    run.started = true;
    int status = 0;
    for (long waited = 0;; waited += 2) {
      const pid_t done = waitpid(pid, &status, WNOHANG);
      if (done == pid) break;
      if (done < 0 && errno != EINTR) {
        run.started = false;
        break;
      }
      if (waited >= options.timeoutMs) {
        run.timedOut = true;
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      pause(2000000);
    }
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
      run.signaled = true;
      run.signal = WTERMSIG(status);
    }
  }
  run.out = readAll(outFd);
  run.err = readAll(errFd);
  close(outFd);
  close(errFd);
  return run;
}

pid_t startTool(const ToolOptions& options) {
  const int nullFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (nullFd < 0) return -1;
  const pid_t pid = spawn(options, nullFd, nullFd);
  close(nullFd);
  return pid;
}

void stopTool(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGKILL);
  int status = 0;
  waitpid(pid, &status, 0);
}

unsigned long long virtualMemorySize(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.compare(0, 7, "VmSize:") == 0) return std::strtoull(line.c_str() + 7, nullptr, 10) * 1024ULL;
  }
  return 0;
}
