// The progress trace: the lines that tell, in a debugger or a debug-output viewer, how the run
// went and why an edition was chosen. Each line is kept in a fixed area and passed to the
// debugger output as it is appended; it goes nowhere else.
#ifndef LAUNCHER_PROGRESS_TRACE_H_
#define LAUNCHER_PROGRESS_TRACE_H_

#include <stddef.h>

constexpr size_t kTraceLineSize = 1024;
constexpr size_t kTraceAreaSize = 4100;

struct ProgressTrace {
  char text[kTraceAreaSize];  // Every line ends with a line feed; the text is NUL-terminated.
  size_t length;
};

// Starts an empty trace.
void StartTrace(ProgressTrace* trace);

// Appends the line and a line feed.
void AppendTraceLine(ProgressTrace* trace, const char* line);

// Formats a line into a line buffer and appends it.
void AppendTraceFormat(ProgressTrace* trace, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

#endif  // LAUNCHER_PROGRESS_TRACE_H_
