// The one door to the operating system. On Windows it is <windows.h>; on the Linux host it is
// the stand-in of host_windows.h, whose functions the unit tests define as fakes, so the
// launcher reaches Windows by the functions' own names and is tested through a link-time seam.
// The C runtime's services come through runtime_services.h under names of the launcher's own.
#ifndef LAUNCHER_OS_SEAM_H_
#define LAUNCHER_OS_SEAM_H_

#ifdef _WIN32
#include <windows.h>
#else
#include "host_windows.h"
#endif

#include "runtime_services.h"

#endif  // LAUNCHER_OS_SEAM_H_
