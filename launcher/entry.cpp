// The Windows GUI entry: the runtime start-up calls it once on the main thread, and its result
// becomes the process's exit code through the runtime's normal exit.
#include "launcher_main.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR command_line,
                   int show_command) {
  return LauncherMain(instance, previous_instance, command_line, show_command);
}
