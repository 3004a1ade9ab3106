// Staging and running the chosen edition: written to "patch.exe" in the user's temporary
// directory, started by its quoted full path, waited for, and deleted.
#ifndef LAUNCHER_STAGING_H_
#define LAUNCHER_STAGING_H_

#include <stddef.h>

#include "os_seam.h"
#include "progress_trace.h"

constexpr size_t kStagingPathSize = MAX_PATH;
constexpr size_t kChildCommandLineSize = MAX_PATH;
// The temporary directory is used only when its reported length is below this.
constexpr DWORD kTempPathLimit = 250;
constexpr char kStagedFileName[] = "patch.exe";

// Composes the staging path and writes the payload there in one write, straight from the
// resource memory. False, with nothing written, when the file cannot be opened.
bool StagePayload(const void* payload, DWORD payload_size,
                  char (&staging_path)[kStagingPathSize], ProgressTrace* trace);

// Starts the staged file with its quoted full path as the whole command line, waits for it to
// end, closes its handles and deletes the file. The child's exit code is not read.
void RunPayload(const char (&staging_path)[kStagingPathSize], ProgressTrace* trace);

#endif  // LAUNCHER_STAGING_H_
