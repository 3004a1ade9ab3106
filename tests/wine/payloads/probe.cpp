// A probe edition of the patch program, for the Wine tests. It tells the test what it sees of
// itself: its edition, its whole command line, its module path and an FNV-1a 64 hash of its own
// file's bytes. Each record is one line appended to the file that PROBE_REPORT names:
//   start<TAB>pid<TAB>edition<TAB>hash<TAB>module path<TAB>command line
//   child<TAB>pid<TAB>grandchild pid<TAB>grandchild module path
//   end<TAB>pid<TAB>edition<TAB>exit code
// Steered by the environment, which the launcher passes on:
//   PROBE_EXIT_CODE   exit code (decimal, default 0)
//   PROBE_SLEEP_MS    milliseconds to wait before the end record
//   PROBE_GRANDCHILD  a path: copy this file there and start the copy, which sleeps
//                     PROBE_GRANDCHILD_SLEEP_MS and holds nothing of this process
#include <windows.h>

namespace {

constexpr DWORD kTextSize = 2048;

struct Text {
  char bytes[kTextSize];
  DWORD length;
};

void Append(Text* text, const char* piece) {
  while (*piece != '\0' && text->length + 1 < kTextSize) {
    text->bytes[text->length++] = *piece++;
  }
  text->bytes[text->length] = '\0';
}

void AppendUnsigned(Text* text, unsigned long long value, unsigned base, int min_digits) {
  char digits[24];
  int count = 0;
  do {
    digits[count++] = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0 && count < 24);
  while (count < min_digits && count < 24) {
    digits[count++] = '0';
  }
  char piece[25];
  for (int i = 0; i < count; ++i) {
    piece[i] = digits[count - 1 - i];
  }
  piece[count] = '\0';
  Append(text, piece);
}

// The variable's value, or an empty text when it is not set or too long.
bool ReadVariable(const char* name, char* value, DWORD size) {
  const DWORD length = GetEnvironmentVariableA(name, value, size);
  if (length == 0 || length >= size) {
    value[0] = '\0';
    return false;
  }
  return true;
}

unsigned long ReadNumber(const char* name, unsigned long fallback) {
  char value[32];
  if (!ReadVariable(name, value, sizeof value)) {
    return fallback;
  }
  unsigned long number = 0;
  for (const char* c = value; *c >= '0' && *c <= '9'; ++c) {
    number = number * 10 + static_cast<unsigned long>(*c - '0');
  }
  return number;
}

void Report(const Text& record) {
  char path[MAX_PATH];
  if (!ReadVariable("PROBE_REPORT", path, sizeof path)) {
    return;
  }
  // Appending, so that the probe and its grandchild can share one report.
  HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD written = 0;
  WriteFile(file, record.bytes, record.length, &written, nullptr);
  CloseHandle(file);
}

// FNV-1a 64 of the file's bytes; 0 when it cannot be read.
unsigned long long HashFile(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return 0;
  }
  unsigned char buffer[4096];
  unsigned long long hash = 0xcbf29ce484222325ull;
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got != 0) {
    for (DWORD i = 0; i < got; ++i) {
      hash ^= buffer[i];
      hash *= 0x100000001b3ull;
    }
  }
  CloseHandle(file);
  return hash;
}

// Starts a copy of this file at PROBE_GRANDCHILD and does not wait for it.
void StartGrandchild(const char* module) {
  char target[MAX_PATH];
  if (!ReadVariable("PROBE_GRANDCHILD", target, sizeof target)) {
    return;
  }
  char sleep_ms[32];
  ReadVariable("PROBE_GRANDCHILD_SLEEP_MS", sleep_ms, sizeof sleep_ms);
  if (!CopyFileA(module, target, FALSE)) {
    return;
  }
  // The grandchild inherits this environment: it must not start one of its own.
  SetEnvironmentVariableA("PROBE_GRANDCHILD", nullptr);
  SetEnvironmentVariableA("PROBE_SLEEP_MS", sleep_ms);
  SetEnvironmentVariableA("PROBE_EXIT_CODE", nullptr);

  Text command_line = {};
  Append(&command_line, "\"");
  Append(&command_line, target);
  Append(&command_line, "\"");
  STARTUPINFOA startup_info = {};
  startup_info.cb = sizeof startup_info;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(nullptr, command_line.bytes, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup_info, &process)) {
    return;
  }
  Text record = {};
  Append(&record, "child\t");
  AppendUnsigned(&record, GetCurrentProcessId(), 10, 1);
  Append(&record, "\t");
  AppendUnsigned(&record, process.dwProcessId, 10, 1);
  Append(&record, "\t");
  Append(&record, target);
  Append(&record, "\n");
  Report(record);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  OutputDebugStringA("Probe edition " EDITION_CODE " ran.\n");

  char module[MAX_PATH];
  const DWORD module_length = GetModuleFileNameA(nullptr, module, sizeof module);
  if (module_length == 0 || module_length >= sizeof module) {
    module[0] = '\0';
  }
  const unsigned exit_code = static_cast<unsigned>(ReadNumber("PROBE_EXIT_CODE", 0));

  Text record = {};
  Append(&record, "start\t");
  AppendUnsigned(&record, GetCurrentProcessId(), 10, 1);
  Append(&record, "\t" EDITION_CODE "\t");
  AppendUnsigned(&record, HashFile(module), 16, 16);
  Append(&record, "\t");
  Append(&record, module);
  Append(&record, "\t");
  Append(&record, GetCommandLineA());
  Append(&record, "\n");
  Report(record);

  // Read before the grandchild's start changes the environment for it.
  const DWORD sleep_ms = ReadNumber("PROBE_SLEEP_MS", 0);
  StartGrandchild(module);
  Sleep(sleep_ms);

  Text end = {};
  Append(&end, "end\t");
  AppendUnsigned(&end, GetCurrentProcessId(), 10, 1);
  Append(&end, "\t" EDITION_CODE "\t");
  AppendUnsigned(&end, exit_code, 10, 1);
  Append(&end, "\n");
  Report(end);
  return static_cast<int>(exit_code);
}
