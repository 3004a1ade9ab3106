// A sample edition of the patch program. It says which edition ran in the debug output, and in
// a window only when SAMPLE_EDITION_WINDOW is set, so an unattended run never waits on a click.
// When SAMPLE_EDITION_COPY_TO names a file, it first copies its own running file there, so a
// test can compare what the launcher staged with the edition it carries.
#include <windows.h>

namespace {

// Copies the file at source to target; false when any step fails.
bool CopyOwnFile(const char* source, const char* target) {
  // The launcher may hold the staged file open for reading and deletion.
  HANDLE in =
      CreateFileA(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (in == INVALID_HANDLE_VALUE) {
    return false;
  }
  HANDLE out =
      CreateFileA(target, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) {
    CloseHandle(in);
    return false;
  }
  bool ok = true;
  char buffer[4096];
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(in, buffer, sizeof buffer, &read, nullptr)) {
      ok = false;
      break;
    }
    if (read == 0) {
      break;
    }
    DWORD written = 0;
    if (!WriteFile(out, buffer, read, &written, nullptr) || written != read) {
      ok = false;
      break;
    }
  }
  CloseHandle(out);
  CloseHandle(in);
  return ok;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static const char kMessage[] = "Sample edition " EDITION_CODE " (" EDITION_NAME ") ran.\n";
  OutputDebugStringA(kMessage);

  char target[MAX_PATH];
  const DWORD target_length =
      GetEnvironmentVariableA("SAMPLE_EDITION_COPY_TO", target, sizeof target);
  if (target_length != 0 && target_length < sizeof target) {
    char self[MAX_PATH];
    const DWORD self_length = GetModuleFileNameA(nullptr, self, sizeof self);
    const bool copied = self_length != 0 && self_length < sizeof self && CopyOwnFile(self, target);
    OutputDebugStringA(copied ? "Sample edition " EDITION_CODE " copied its own file.\n"
                              : "Sample edition " EDITION_CODE " could not copy its own file.\n");
  }

  char ask[2];
  if (GetEnvironmentVariableA("SAMPLE_EDITION_WINDOW", ask, sizeof ask) != 0) {
    MessageBoxA(nullptr, kMessage, "Patch " EDITION_NAME, MB_OK);
  }
  return 0;
}
