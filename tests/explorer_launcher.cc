// Starts a program the way Explorer starts a console program it is given a
// file for: in a new console made for it alone (CREATE_NEW_CONSOLE, no
// handles of its own), with the program's full path and the file's as its
// command line. The parent's program name is this program's own, so a copy
// named explorer.exe stands in for Explorer. Then tells whether the program
// ended by itself or waited for a key, and in that case what its window
// showed:
//   explorer_launcher REPORT EVIDENCE COMMAND_LINE
// REPORT is the file that receives the report (UTF-8). EVIDENCE is a file
// the program writes during its run, or "-" for none. The console is only
// attached to (to read it and to press a key) once the program is past the
// start of its run: attached earlier, this process would share the console
// when the program looks at who does. With EVIDENCE that is when the file
// exists; without it, when the program has not ended within kQuietSeconds,
// which is far more than a run of the tiny test blocks takes (a slower start
// makes the program end by itself: the test fails, it never passes wrongly).
// Exits with 0 when it could tell, 2 when it could not.

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

const DWORD kPollMs = 100;
const DWORD kQuietSeconds = 20;
// No step waits longer than this; a program that still has not done what
// is expected is reported as stuck.
const DWORD kLimitMs = 120 * 1000;
const wchar_t kPrompt[] = L"Press any key to close this window.";

std::FILE* report = nullptr;

std::string utf8(const std::wstring& text) {
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &bytes[0], size, nullptr, nullptr);
  return bytes;
}

// The attached console's screen, one line per row without its trailing
// blanks, and without the empty rows at the end.
std::wstring screenText() {
  const HANDLE output = CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr);
  CONSOLE_SCREEN_BUFFER_INFO info{};
  std::wstring text;
  if (output != INVALID_HANDLE_VALUE && GetConsoleScreenBufferInfo(output, &info)) {
    std::wstring row(static_cast<size_t>(info.dwSize.X), L' ');
    for (SHORT y = 0; y < info.dwSize.Y; ++y) {
      DWORD read = 0;
      if (!ReadConsoleOutputCharacterW(output, &row[0], info.dwSize.X, COORD{0, y}, &read)) break;
      std::wstring line = row.substr(0, read);
      line.erase(line.find_last_not_of(L' ') + 1);
      text += line + L"\n";
    }
  }
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  while (text.size() >= 2 && text.compare(text.size() - 2, 2, L"\n\n") == 0) text.pop_back();
  return text;
}

bool pressKey() {
  const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr);
  if (input == INVALID_HANDLE_VALUE) return false;
  INPUT_RECORD records[2]{};
  for (int i = 0; i < 2; ++i) {
    records[i].EventType = KEY_EVENT;
    KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
    key.bKeyDown = i == 0;
    key.wRepeatCount = 1;
    key.wVirtualKeyCode = 'A';
    key.uChar.UnicodeChar = L'a';
  }
  DWORD written = 0;
  const bool done = WriteConsoleInputW(input, records, 2, &written) && written == 2;
  CloseHandle(input);
  return done;
}

PROCESS_INFORMATION child{};

int finish(const char* what) {
  DWORD status = 0;
  GetExitCodeProcess(child.hProcess, &status);
  std::fprintf(report, "%s with status %lu\n", what, static_cast<unsigned long>(status));
  std::fclose(report);
  return 0;
}

// Ends a program that did not do what was expected, so that nothing is left
// waiting for a key.
int stuck(const char* what) {
  if (child.hProcess) TerminateProcess(child.hProcess, 1);
  std::fprintf(report, "stuck: %s\n", what);
  std::fclose(report);
  return 2;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) return 2;
  report = _wfopen(argv[1], L"wb");
  if (!report) return 2;
  const std::wstring evidence = argv[2];
  std::wstring commandLine = argv[3];

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                      &child)) {
    return stuck("the program could not be started");
  }

  // Until the program has ended or is past the start of its run.
  for (DWORD waited = 0;; waited += kPollMs) {
    if (WaitForSingleObject(child.hProcess, kPollMs) == WAIT_OBJECT_0) return finish("ended by itself");
    const bool past = evidence == L"-" ? waited >= kQuietSeconds * 1000
                                       : GetFileAttributesW(evidence.c_str()) != INVALID_FILE_ATTRIBUTES;
    if (past) break;
    if (waited > kLimitMs) return stuck("the program neither ended nor wrote the evidence");
  }

  // Reads its console until the request for a key shows.
  FreeConsole();
  for (DWORD waited = 0; !AttachConsole(child.dwProcessId); waited += kPollMs) {
    if (WaitForSingleObject(child.hProcess, kPollMs) == WAIT_OBJECT_0) return finish("ended by itself");
    if (waited > kLimitMs) return stuck("the program's console cannot be attached to");
  }
  std::wstring screen;
  for (DWORD waited = 0;; waited += kPollMs) {
    screen = screenText();
    if (screen.find(kPrompt) != std::wstring::npos) break;
    if (WaitForSingleObject(child.hProcess, kPollMs) == WAIT_OBJECT_0) {
      std::fprintf(report, "%s", utf8(screenText()).c_str());
      return finish("ended by itself");
    }
    if (waited > kLimitMs) return stuck("no request for a key shows");
  }
  std::fprintf(report, "%s", utf8(screen).c_str());
  if (WaitForSingleObject(child.hProcess, 0) == WAIT_OBJECT_0) return finish("ended by itself");
  std::fprintf(report, "waiting for a key\n");
  if (!pressKey()) return stuck("no key can be pressed");
  if (WaitForSingleObject(child.hProcess, kLimitMs) != WAIT_OBJECT_0) return stuck("the key does not end it");
  return finish("ended after a key");
}
