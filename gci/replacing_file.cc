#include "gci/replacing_file.h"

#include <QRandomGenerator>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <utility>

#if defined(Q_OS_WIN)
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

// The temporary file being written, for the interrupt handler; null when
// there is none. The handler reads it without locks (on POSIX it runs inside
// a signal handler), so it is set and cleared only where no interrupt can
// come between the file's creation or removal and the change of this slot.
std::atomic<const NativeChar*> pendingTemporary{nullptr};

// "PATH.XXXXXX" with six random letters and digits.
NativePath temporaryName(const NativePath& path) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  NativePath name = path + NativeChar('.');
  for (int i = 0; i < 6; ++i) name += NativeChar(kAlphabet[QRandomGenerator::global()->bounded(62)]);
  return name;
}

#if defined(Q_OS_WIN)

CRITICAL_SECTION interruptLock;
std::atomic<bool> interruptLockReady{false};

// Keeps the console control handler out while the temporary file is created,
// renamed or removed, so that it sees either the file or nothing.
class NoInterrupts {
 public:
  NoInterrupts() {
    if (interruptLockReady) EnterCriticalSection(&interruptLock);
  }
  ~NoInterrupts() {
    if (interruptLockReady) LeaveCriticalSection(&interruptLock);
  }
  NoInterrupts(const NoInterrupts&) = delete;
  NoInterrupts& operator=(const NoInterrupts&) = delete;
};

HANDLE asHandle(long long handle) { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(handle)); }

BOOL WINAPI consoleControl(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
      onInterrupt(static_cast<int>(event));
    default:
      return FALSE;
  }
}

#else

// Holds the interrupt signals back while the temporary file is created,
// renamed or removed, so that the handler sees either the file or nothing.
class NoInterrupts {
 public:
  NoInterrupts() {
    sigset_t interrupts;
    sigemptyset(&interrupts);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&interrupts, signal);
    pthread_sigmask(SIG_BLOCK, &interrupts, &previous_);
  }
  ~NoInterrupts() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  NoInterrupts(const NoInterrupts&) = delete;
  NoInterrupts& operator=(const NoInterrupts&) = delete;

 private:
  sigset_t previous_;
};

void onSignal(int signal) { onInterrupt(signal); }

#endif

}  // namespace

#if defined(Q_OS_WIN)

bool isSameFile(const QString& a, const QString& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const QString* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    // No access beyond the attributes and every sharing mode: a file that
    // another program holds open is still recognised.
    const HANDLE handle = CreateFileW(nativePath(*paths[i]).c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const BOOL known = GetFileInformationByHandle(handle, &info[i]);
    CloseHandle(handle);
    if (!known) return false;
  }
  return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
         info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}

bool ReplacingFile::open() {
  for (int attempt = 0; attempt < 100; ++attempt) {
    NoInterrupts guard;
    NativePath name = temporaryName(path_);
    // Shared for deletion, so that the interrupt handler can remove the file
    // while this handle is still open: it goes when the process ends.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return fail();
    }
    handle_ = reinterpret_cast<intptr_t>(handle);
    holdTemporary(std::move(name));
    return true;
  }
  return fail();
}

bool ReplacingFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(asHandle(handle_), data, chunk, &written, nullptr) || written == 0) return fail();
    data += written;
    size -= written;
  }
  return true;
}

bool ReplacingFile::commit() {
  FlushFileBuffers(asHandle(handle_));
  NoInterrupts guard;
  const bool closed = CloseHandle(asHandle(handle_));
  handle_ = -1;
  if (!closed || !MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) return fail();
  releaseTemporary();
  return true;
}

void ReplacingFile::discard() {
  NoInterrupts guard;
  if (handle_ != -1) CloseHandle(asHandle(handle_));
  handle_ = -1;
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
  releaseTemporary();
}

bool ReplacingFile::fail() {
  error_ = qt_error_string(static_cast<int>(GetLastError()));
  discard();
  return false;
}

void installInterruptCleanup() {
  InitializeCriticalSection(&interruptLock);
  interruptLockReady = true;
  SetConsoleCtrlHandler(consoleControl, TRUE);
}

void onInterrupt(int) {
  // Runs on a thread of its own. The lock is never released: the process
  // ends here, with whatever holds the temporary file open.
  if (interruptLockReady) EnterCriticalSection(&interruptLock);
  if (const wchar_t* temporary = pendingTemporary) DeleteFileW(temporary);
  static const char kLine[] = "Interrupted\r\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_ERROR_HANDLE), kLine, sizeof kLine - 1, &written, nullptr);
  // Ends at once, as Windows ends a program that does not handle Ctrl-C,
  // but without running the libraries' exit code while another thread may
  // be stopped inside them.
  TerminateProcess(GetCurrentProcess(), STATUS_CONTROL_C_EXIT);
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

#else

bool isSameFile(const QString& a, const QString& b) {
  struct stat first {};
  struct stat second {};
  return ::stat(nativePath(a).c_str(), &first) == 0 && ::stat(nativePath(b).c_str(), &second) == 0 &&
         first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool ReplacingFile::open() {
  struct stat existing {};
  const bool replaces = ::stat(path_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  for (int attempt = 0; attempt < 100; ++attempt) {
    NoInterrupts guard;
    NativePath name = temporaryName(path_);
    // A new file gets what the umask allows; one that replaces another is
    // private until it has that file's permissions.
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, replaces ? 0600 : 0666);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      if (errno == EACCES && replaces) {
        // No room for a temporary file, but the file itself may be written.
        handle_ = ::open(path_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
        return handle_ >= 0 || fail();
      }
      return fail();
    }
    handle_ = fd;
    holdTemporary(std::move(name));
    if (replaces) ::fchmod(fd, existing.st_mode & 07777);
    return true;
  }
  return fail();
}

bool ReplacingFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(static_cast<int>(handle_), data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return fail();
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

bool ReplacingFile::commit() {
  const int fd = static_cast<int>(handle_);
  handle_ = -1;
  ::fsync(fd);  // a file system that cannot sync still takes the file
  if (::close(fd) != 0) return fail();
  if (temporary_.empty()) return true;
  NoInterrupts guard;
  if (::rename(temporary_.c_str(), path_.c_str()) != 0) return fail();
  releaseTemporary();
  return true;
}

void ReplacingFile::discard() {
  NoInterrupts guard;
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  releaseTemporary();
}

bool ReplacingFile::fail() {
  error_ = qt_error_string(errno);
  discard();
  return false;
}

void installInterruptCleanup() {
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    struct sigaction previous {};
    if (::sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (const int other : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, other);
    ::sigaction(signal, &action, nullptr);
  }
}

void onInterrupt(int cause) {
  // Only calls that are safe inside a signal handler.
  if (const char* temporary = pendingTemporary.exchange(nullptr)) ::unlink(temporary);
  static const char kLine[] = "Interrupted\n";
  [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kLine, sizeof kLine - 1);
  ::signal(cause, SIG_DFL);
  sigset_t only;
  sigemptyset(&only);
  sigaddset(&only, cause);
  ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
  ::raise(cause);
  ::_exit(128 + cause);  // should the signal's default action not end the process
}

#endif

ReplacingFile::ReplacingFile(const QString& path) : path_(nativePath(path)) {}

void ReplacingFile::holdTemporary(NativePath name) {
  temporary_ = std::move(name);
  pendingTemporary = temporary_.c_str();
}

void ReplacingFile::releaseTemporary() {
  pendingTemporary = nullptr;
  temporary_.clear();
}

ReplacingFile::~ReplacingFile() { discard(); }
