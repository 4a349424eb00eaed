#pragma once

// Writing a file so that it either appears complete or not at all, whatever
// becomes of the process, and telling whether two paths name one file.

#include "platform/file_path.h"

#include <QString>

#include <cstddef>

// Whether `a` and `b` both name an existing file and it is the same file,
// judged by the file's identity rather than by its spelling: device and
// inode on POSIX, volume serial number and file index on Windows. Other
// case, short 8.3 names, \\?\ and UNC spellings, hard links, symbolic links
// and junctions all name the same file. False when either cannot be
// opened.
bool isSameFile(const QString& a, const QString& b);

// An open file as the system hands it out: a descriptor on POSIX, a HANDLE
// (void*) on Windows.
#if defined(_WIN32)
using FileHandle = void*;
#else
using FileHandle = int;
#endif

// A file that replaces whatever is at its path only once it is complete and
// synced to the disk. The text goes to a temporary file in the same folder,
// which commit() puts in place with one rename.
//
// What it promises, on both platforms unless said otherwise:
// - A failure, destruction without commit(), an interrupt (see
//   installInterruptCleanup) or the process being killed leaves an earlier
//   file at the path exactly as it was, and no temporary file behind. On
//   Linux the temporary file has no name until commit() (O_TMPFILE), so
//   nothing can be left; where the file system cannot make such a file, it
//   gets a short name of fixed length ("block2gci-XXXXXX.tmp"), removed on
//   an interrupt. On Windows the temporary file is deleted when its handle
//   closes, also when the process is killed, until the moment it is renamed.
// - Nothing is ever written in place: where the folder allows no new file,
//   open() fails ("Cannot create a file in the output's folder: ...").
// - An existing file that the user may not write is refused and left as it
//   was: no write permission on POSIX (as judged for the effective user, so
//   root may replace it), the read-only attribute on Windows.
// - On POSIX a path that is a symbolic link is written through it: the file
//   it finally names is replaced (or made), and the link stays.
// - A sync that fails (other than on a file that cannot be synced at all)
//   fails the commit.
// - The new file gets the permissions of the file it replaces, or those of
//   any new file.
// - On Windows, while another program holds the file open without sharing
//   its deletion, commit() tries again for about two seconds before it
//   fails with a reason that says so.
class ReplacingFile {
 public:
  // How the temporary file is made: unnamed where the system allows it, or
  // always with a name (on Windows it always has one).
  enum class Temporary { UnnamedWherePossible, Named };

  explicit ReplacingFile(const QString& path, Temporary temporary = Temporary::UnnamedWherePossible);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file. False, with errorString(), when it cannot,
  // or when the file at the path may not be replaced.
  bool open();
  // Appends `size` bytes; false, with errorString(), when the system takes
  // fewer (a full disk, a file-size limit).
  bool write(const char* data, std::size_t size);
  // Syncs the complete file and puts it in place. False, with
  // errorString(), when it could not; the temporary file is gone then too.
  bool commit();
  // Why the last call failed, in the system's words where it gave some.
  QString errorString() const { return error_; }

 private:
  bool fail();
  bool failWith(const QString& reason);
  bool failToCreate();
#if !defined(_WIN32)
  bool openNamed(unsigned mode);
#endif
  void discard();
  // Makes `name` the temporary file's name, and the one an interrupt
  // removes; called, as releaseTemporary, while interrupts are held off.
  void holdTemporary(NativePath name);
  // Forgets the temporary file's name, once it is renamed or removed.
  void releaseTemporary();

  NativePath path_;       // the file that is replaced: on POSIX the final target of a link
  NativePath folder_;     // the folder where path_ lies
  NativePath temporary_;  // the temporary file's name; empty while it has none
  FileHandle handle_;
#if !defined(_WIN32)
  bool unnamed_ = false;  // the temporary file has no name (O_TMPFILE)
  Temporary kind_;
  std::size_t size_ = 0;         // bytes written
  std::size_t writtenBack_ = 0;  // of them, those whose writing to the disk has begun
#endif
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
