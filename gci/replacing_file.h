#pragma once

// Writing a file so that it either appears complete or not at all, also when
// the process is interrupted, and telling whether two paths name one file.

#include "block/file_path.h"

#include <QString>

#include <cstddef>

// Whether `a` and `b` both name an existing file and it is the same file,
// judged by the file's identity rather than by its spelling: device and
// inode on POSIX, volume serial number and file index on Windows. Other
// case, short 8.3 names, \\?\ and UNC spellings, hard links, symbolic links
// and junctions all name the same file. False when either cannot be
// opened.
bool isSameFile(const QString& a, const QString& b);

// A file that replaces whatever is at its path only once it is complete.
// The text goes to a temporary file beside it ("PATH.XXXXXX"), which
// commit() renames over the path; a failure, destruction without commit(),
// or an interrupt (see installInterruptCleanup) removes the temporary file
// and leaves an earlier file at the path as it was. On POSIX, where the
// directory allows no new file but an existing file at the path is
// writable, that file is written in place instead. The new file gets the
// permissions of the file it replaces, or those of any new file.
class ReplacingFile {
 public:
  explicit ReplacingFile(const QString& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file. False, with errorString(), when it cannot.
  bool open();
  // Appends `size` bytes; false, with errorString(), when the system takes
  // fewer (a full disk, a file-size limit).
  bool write(const char* data, std::size_t size);
  // Puts the complete file in place. False, with errorString(), when it
  // could not; the temporary file is gone then too.
  bool commit();
  // The system's reason for the last failure.
  QString errorString() const { return error_; }

 private:
  bool fail();
  void discard();
  // Makes `name` the temporary file, and the one an interrupt removes;
  // called, as releaseTemporary, while interrupts are held off.
  void holdTemporary(NativePath name);
  // Forgets the temporary file, once it is renamed or removed.
  void releaseTemporary();

  NativePath path_;
  NativePath temporary_;   // empty when writing in place, or when none is open
  long long handle_ = -1;  // the file descriptor, or the Windows HANDLE
  QString error_;
};

// From now on an interrupt (SIGINT, SIGTERM, SIGHUP on POSIX; Ctrl-C,
// Ctrl-Break and closing the console on Windows) removes the temporary file
// of a ReplacingFile being written, writes the line "Interrupted" to
// standard error and ends the process as interrupted programs end: by the
// same signal, after its default action is restored, on POSIX; with status
// 0xC000013A (STATUS_CONTROL_C_EXIT) on Windows. A signal that the process
// was started ignoring stays ignored.
void installInterruptCleanup();

// What an interrupt does, for the given signal or console control event:
// never returns. Public so that a test can run it where the system cannot
// deliver the interrupt.
[[noreturn]] void onInterrupt(int cause);
