// Staging and running the chosen edition.
#include "staging.h"

#include <string.h>

#include "bounded_format.h"

namespace {

constexpr size_t kStagedFileNameLength = sizeof kStagedFileName - 1;

void UseBareName(char (&staging_path)[kStagingPathSize]) {
  memcpy(staging_path, kStagedFileName, sizeof kStagedFileName);
}

// The child is named by the full path of the file just written, never by a bare name: the
// system's search for a bare name looks in the launcher's own directory first, where another
// "patch.exe" would run with the launcher's token. False when the path or its quoted form
// does not fit; nothing may be started then.
bool ComposeChildCommandLine(const char (&staging_path)[kStagingPathSize],
                             char (&command_line)[kChildCommandLineSize], ProgressTrace* trace) {
  char full_path[MAX_PATH];
  const DWORD full_length = GetFullPathNameA(staging_path, sizeof full_path, full_path, nullptr);
  if (full_length == 0 || full_length >= sizeof full_path) {
    AppendTraceLine(trace, "Not starting the file, its full path is not known");
    return false;
  }
  // Two quotes and the terminator; a cut command line would start some other program.
  if (full_length + 3 > sizeof command_line) {
    AppendTraceLine(trace, "Not starting the file, its quoted path does not fit");
    return false;
  }
  FormatText(command_line, sizeof command_line, "%c%s%c", '"', full_path, '"');
  return true;
}

}  // namespace

bool StagePayload(const void* payload, DWORD payload_size,
                  char (&staging_path)[kStagingPathSize], ProgressTrace* trace) {
  // GetTempPathA stores nothing when it fails; the path is then the bare name.
  staging_path[0] = '\0';
  const DWORD temp_length = GetTempPathA(sizeof staging_path, staging_path);
  staging_path[sizeof staging_path - 1] = '\0';
  AppendTraceFormat(trace, "Get temp path returned %s", staging_path);
  AppendTraceFormat(trace, "Actual buffer size is %u compared to max path 250",
                    static_cast<unsigned>(temp_length));

  const size_t directory_length = strlen(staging_path);
  if (temp_length < kTempPathLimit &&
      directory_length + kStagedFileNameLength < sizeof staging_path) {
    memcpy(staging_path + directory_length, kStagedFileName, sizeof kStagedFileName);
    AppendTraceFormat(trace, "Got the final path with [%s]", staging_path);
  } else {
    UseBareName(staging_path);
    AppendTraceLine(trace, "Can't execute from this path, too long");
  }
  AppendTraceFormat(trace, "Preparing to write buffer size of %u",
                    static_cast<unsigned>(payload_size));

  FILE* stream = OpenStream(staging_path, "wb");
  if (stream == nullptr) {
    return false;
  }
  // One write from the resource's own read-only view; the payload is never copied.
  WriteStream(payload, 1, payload_size, stream);
  // Closed before the child starts: the system will not start a file open for writing.
  CloseStream(stream);
  return true;
}

void RunPayload(const char (&staging_path)[kStagingPathSize], ProgressTrace* trace) {
  AppendTraceFormat(trace, "Starting execution of file [%s]", staging_path);

  char command_line[kChildCommandLineSize];
  if (ComposeChildCommandLine(staging_path, command_line, trace)) {
    STARTUPINFOA startup_info;
    memset(&startup_info, 0, sizeof startup_info);
    startup_info.cb = sizeof startup_info;
    PROCESS_INFORMATION process;
    memset(&process, 0, sizeof process);

    // No handles inherited; the child gets the launcher's environment and directory. On
    // failure the handles stay null, and the wait and closes below do nothing.
    CreateProcessA(nullptr, command_line, nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                   &startup_info, &process);
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
  }
  RemoveFile(staging_path);
}
