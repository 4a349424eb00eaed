// hold_file PATH MILLISECONDS: holds the file at PATH open for reading for
// that long, sharing reading and writing but not its deletion, as a
// spreadsheet, a viewer or a virus scanner holds a file it has open. Writes
// "held" on standard output once the file is open. Exit status 1 when the
// file cannot be opened. A Windows program, for the tests that replace a
// file another program holds.

#include <windows.h>

#include <cstdio>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) return 2;
  const HANDLE file = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  std::fputs("held\n", stdout);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 10)));
  CloseHandle(file);
  return 0;
}
