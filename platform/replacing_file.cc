#include "platform/replacing_file.h"

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

// The temporary file's name while it has one, for the interrupt handler;
// null when there is none. The handler reads it without locks (on POSIX it
// runs inside a signal handler), so it is set and cleared only where no
// interrupt can come between the file's naming or removal and the change of
// this slot.
std::atomic<const NativeChar*> pendingTemporary{nullptr};

// "FOLDER/block2gci-XXXXXX.tmp" with six random letters and digits: short
// and of fixed length, so that it fits wherever the output's own name does.
NativePath temporaryName(const NativePath& folder) {
  static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static const char kStart[] = "block2gci-";
  NativePath name = folder;
#if defined(Q_OS_WIN)
  name += L'\\';
#else
  name += '/';
#endif
  name.append(std::begin(kStart), std::end(kStart) - 1);
  for (int i = 0; i < 6; ++i) name += NativeChar(kAlphabet[QRandomGenerator::global()->bounded(62)]);
  for (const char c : {'.', 't', 'm', 'p'}) name += NativeChar(c);
  return name;
}

// The folder part of `path`: everything before its last separator, "." for
// a bare name.
NativePath folderOf(const NativePath& path) {
#if defined(Q_OS_WIN)
  const auto separator = path.find_last_of(L"\\/");
  return separator == NativePath::npos ? NativePath(L".") : path.substr(0, separator);
#else
  const auto separator = path.rfind('/');
  if (separator == NativePath::npos) return ".";
  return separator == 0 ? NativePath("/") : path.substr(0, separator);
#endif
}

const char kReadOnly[] = "The output file is read-only";
const char kCannotCreate[] = "Cannot create a file in the output's folder: ";

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

// Whether the file behind `handle` goes when its last handle closes.
bool deleteOnClose(HANDLE handle, bool on) {
  FILE_DISPOSITION_INFO disposition{};
  disposition.DeleteFile = on ? TRUE : FALSE;
  return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != FALSE;
}

// Whether `path` is a file with the read-only attribute, which Windows
// refuses to replace.
bool isReadOnlyFile(const NativePath& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
         !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Whether a failed replace may be another program holding the output open:
// then it is worth trying again.
bool heldByAnother(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED;
}

#else

// Holds the interrupt signals back while the temporary file is named,
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

// The file that `path` finally names, following symbolic links (which may
// dangle: the file they name need not exist). False, with errno ELOOP, after
// as many links as the system follows.
bool followLinks(NativePath path, NativePath* target) {
  for (int links = 0; links < 40; ++links) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) {
      *target = std::move(path);
      return true;
    }
    std::string link(static_cast<std::size_t>(status.st_size) + 256, '\0');
    const ssize_t length = ::readlink(path.c_str(), &link[0], link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) {
      *target = std::move(path);  // changed under us: the open decides
      return true;
    }
    link.resize(static_cast<std::size_t>(length));
    path = link[0] == '/' ? link : folderOf(path) + '/' + link;
  }
  errno = ELOOP;
  return false;
}

// Errors of fsync that say the file cannot be synced at all, not that its
// data did not reach the disk.
bool cannotBeSynced(int error) { return error == EINVAL || error == ENOTSUP || error == EOPNOTSUPP || error == EROFS; }

#endif

}  // namespace

#if defined(Q_OS_WIN)

bool isSameFile(const QString& a, const QString& b) {
  BY_HANDLE_FILE_INFORMATION info[2] = {};
  const QString* paths[2] = {&a, &b};
  for (int i = 0; i < 2; ++i) {
    // No access beyond the attributes and every sharing mode: a file that
    // another program holds open is still recognised.
    const HANDLE handle = CreateFileW(ResolvedPath(*paths[i]).forSystem().c_str(), FILE_READ_ATTRIBUTES,
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

// The temporary file always has a name on Windows, whatever `temporary` asks.
ReplacingFile::ReplacingFile(const QString& path, Temporary)
    : path_(ResolvedPath(path).forSystem()), folder_(folderOf(path_)), handle_(INVALID_HANDLE_VALUE) {}

bool ReplacingFile::open() {
  // Checked here rather than left to the rename, which Windows itself
  // refuses but Wine does not, so that both behave alike.
  if (isReadOnlyFile(path_)) return failWith(QString::fromLatin1(kReadOnly));
  for (int attempt = 0; attempt < 100; ++attempt) {
    NoInterrupts guard;
    NativePath name = temporaryName(folder_);
    // Shared for deletion, so that the interrupt handler can remove the file
    // while this handle is still open.
    const HANDLE handle = CreateFileW(name.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
      if (GetLastError() == ERROR_FILE_EXISTS) continue;
      return failToCreate();
    }
    handle_ = handle;
    holdTemporary(std::move(name));
    // Gone with the last handle, even when the process is killed; cleared
    // only for the rename.
    deleteOnClose(handle_, true);
    return true;
  }
  return fail();
}

bool ReplacingFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(handle_, data, chunk, &written, nullptr) || written == 0) return fail();
    data += written;
    size -= written;
  }
  return true;
}

bool ReplacingFile::commit() {
  if (!FlushFileBuffers(handle_)) {
    const DWORD error = GetLastError();
    if (error != ERROR_INVALID_FUNCTION && error != ERROR_NOT_SUPPORTED) return fail();
  }
  // Another program (a spreadsheet, a viewer, a virus scanner) may hold the
  // output open without sharing its deletion for a moment: growing pauses,
  // about two seconds in all.
  DWORD error = ERROR_SUCCESS;
  for (const DWORD pause : {0, 50, 100, 150, 200, 250, 300, 350, 400, 450}) {
    Sleep(pause);
    NoInterrupts guard;
    // The rename takes the open file: our handle shares its deletion.
    deleteOnClose(handle_, false);
    if (MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      releaseTemporary();
      const bool closed = CloseHandle(handle_) != FALSE;
      handle_ = INVALID_HANDLE_VALUE;
      return closed || fail();
    }
    error = GetLastError();
    deleteOnClose(handle_, true);
    if (!heldByAnother(error)) break;
    if (isReadOnlyFile(path_)) return failWith(QString::fromLatin1(kReadOnly));
  }
  if (error == ERROR_ACCESS_DENIED) {
    return failWith(QStringLiteral("The output file is open in another program or cannot be replaced: ") +
                    qt_error_string(static_cast<int>(error)));
  }
  SetLastError(error);
  return fail();
}

void ReplacingFile::discard() {
  NoInterrupts guard;
  if (handle_ != INVALID_HANDLE_VALUE) {
    if (!temporary_.empty()) deleteOnClose(handle_, true);
    CloseHandle(handle_);
  }
  handle_ = INVALID_HANDLE_VALUE;
  if (!temporary_.empty()) DeleteFileW(temporary_.c_str());
  releaseTemporary();
}

bool ReplacingFile::fail() { return failWith(qt_error_string(static_cast<int>(GetLastError()))); }

bool ReplacingFile::failToCreate() {
  const DWORD error = GetLastError();
  const QString reason = qt_error_string(static_cast<int>(error));
  return failWith(error == ERROR_ACCESS_DENIED ? QString::fromLatin1(kCannotCreate) + reason : reason);
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
  return ::stat(ResolvedPath(a).forSystem().c_str(), &first) == 0 &&
         ::stat(ResolvedPath(b).forSystem().c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

ReplacingFile::ReplacingFile(const QString& path, Temporary temporary)
    : path_(ResolvedPath(path).forSystem()), handle_(-1), kind_(temporary) {}

bool ReplacingFile::open() {
  if (!followLinks(path_, &path_)) return fail();
  folder_ = folderOf(path_);
  struct stat existing {};
  const bool replaces = ::stat(path_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (replaces && ::faccessat(AT_FDCWD, path_.c_str(), W_OK, AT_EACCESS) != 0 && errno == EACCES) {
    return failWith(QString::fromLatin1(kReadOnly));
  }
  // A new file gets what the umask allows; one that replaces another is
  // private until it has that file's permissions.
  const unsigned mode = replaces ? 0600 : 0666;
  // An unnamed file is linked in through /proc unless the process may link
  // it by its descriptor alone; without /proc it needs a name from the start.
  if (kind_ == Temporary::UnnamedWherePossible && ::access("/proc/self/fd", X_OK) == 0) {
    handle_ = ::open(folder_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (handle_ < 0 && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return failToCreate();
    unnamed_ = handle_ >= 0;
  }
  if (handle_ < 0 && !openNamed(mode)) return false;
  if (replaces) ::fchmod(handle_, existing.st_mode & 07777);
  return true;
}

bool ReplacingFile::openNamed(unsigned mode) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    NoInterrupts guard;
    NativePath name = temporaryName(folder_);
    handle_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (handle_ >= 0) {
      holdTemporary(std::move(name));
      return true;
    }
    if (errno != EEXIST) return failToCreate();
  }
  return fail();
}

bool ReplacingFile::write(const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(handle_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return fail();
    data += written;
    size -= static_cast<std::size_t>(written);
    size_ += static_cast<std::size_t>(written);
  }
#if defined(__linux__)
  // Starts writing what is written so far to the disk while the rest is
  // made, so that the sync of commit() waits only for the last part. Only a
  // hint: its errors show again in that sync.
  constexpr std::size_t kWriteBackEvery = std::size_t(8) << 20;
  if (size_ - writtenBack_ >= kWriteBackEvery) {
    ::sync_file_range(handle_, static_cast<off64_t>(writtenBack_), static_cast<off64_t>(size_ - writtenBack_),
                      SYNC_FILE_RANGE_WRITE);
    writtenBack_ = size_;
  }
#endif
  return true;
}

bool ReplacingFile::commit() {
  if (::fsync(handle_) != 0 && !cannotBeSynced(errno)) return fail();
  NoInterrupts guard;
  if (unnamed_) {
    // A name for the unnamed file: the output's own when nothing is there
    // yet, else a temporary one that is renamed over the output.
    const std::string byDescriptor = "/proc/self/fd/" + std::to_string(handle_);
    const auto linkIn = [&](const NativePath& name) {
      return ::linkat(handle_, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH) == 0 ||
             ((errno == ENOENT || errno == EPERM) &&
              ::linkat(AT_FDCWD, byDescriptor.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0);
    };
    struct stat existing {};
    if (::lstat(path_.c_str(), &existing) != 0 && linkIn(path_)) {
      unnamed_ = false;
      if (::close(handle_) == 0) {
        handle_ = -1;
        return true;
      }
      const int error = errno;
      ::unlink(path_.c_str());
      errno = error;
      return fail();
    }
    for (int attempt = 0;; ++attempt) {
      NativePath name = temporaryName(folder_);
      if (linkIn(name)) {
        holdTemporary(std::move(name));
        break;
      }
      if (errno != EEXIST || attempt == 100) return fail();
    }
    unnamed_ = false;
  }
  const int fd = handle_;
  handle_ = -1;
  if (::close(fd) != 0 || ::rename(temporary_.c_str(), path_.c_str()) != 0) return fail();
  releaseTemporary();
  return true;
}

void ReplacingFile::discard() {
  NoInterrupts guard;
  if (handle_ >= 0) ::close(handle_);
  handle_ = -1;
  unnamed_ = false;
  if (!temporary_.empty()) ::unlink(temporary_.c_str());
  releaseTemporary();
}

bool ReplacingFile::fail() { return failWith(qt_error_string(errno)); }

bool ReplacingFile::failToCreate() {
  const int error = errno;
  const QString reason = qt_error_string(error);
  const bool folderRefuses = error == EACCES || error == EPERM || error == EROFS;
  return failWith(folderRefuses ? QString::fromLatin1(kCannotCreate) + reason : reason);
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
  // Only calls that are safe inside a signal handler. An unnamed temporary
  // file needs nothing: it goes with the process.
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

bool ReplacingFile::failWith(const QString& reason) {
  error_ = reason;
  discard();
  return false;
}

void ReplacingFile::holdTemporary(NativePath name) {
  temporary_ = std::move(name);
  pendingTemporary = temporary_.c_str();
}

void ReplacingFile::releaseTemporary() {
  pendingTemporary = nullptr;
  temporary_.clear();
}

ReplacingFile::~ReplacingFile() { discard(); }
