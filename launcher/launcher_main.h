// The launcher's main routine: the whole launch sequence.
#ifndef LAUNCHER_LAUNCHER_MAIN_H_
#define LAUNCHER_LAUNCHER_MAIN_H_

#include "os_seam.h"

// Resource type under which the editions are stored.
constexpr char kPayloadResourceType[] = "BINARYDATA";

// Chooses, stages, runs and removes the edition of the product's language. Takes the four
// arguments of a GUI entry and uses none: arguments are never read or passed on. Returns 0 on
// every path.
int LauncherMain(HINSTANCE instance, HINSTANCE previous_instance, LPSTR command_line,
                 int show_command);

#endif  // LAUNCHER_LAUNCHER_MAIN_H_
