// A sample edition of the patch program. It says which edition ran in the debug output, and in
// a window only when SAMPLE_EDITION_WINDOW is set, so an unattended run never waits on a click.
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  static const char kMessage[] = "Sample edition " EDITION_CODE " (" EDITION_NAME ") ran.\n";
  OutputDebugStringA(kMessage);
  char ask[2];
  if (GetEnvironmentVariableA("SAMPLE_EDITION_WINDOW", ask, sizeof ask) != 0) {
    MessageBoxA(nullptr, kMessage, "Patch " EDITION_NAME, MB_OK);
  }
  return 0;
}
