// The progress trace.
#include "progress_trace.h"

#include <stdarg.h>
#include <string.h>

#include "bounded_format.h"
#include "os_seam.h"

void StartTrace(ProgressTrace* trace) {
  trace->text[0] = '\0';
  trace->length = 0;
}

void AppendTraceLine(ProgressTrace* trace, const char* line) {
  char* end = trace->text + trace->length;
  const size_t room = kTraceAreaSize - trace->length;
  const size_t line_length = strlen(line);
  // The line, its line feed and the terminator must all fit; a line that does not is dropped
  // whole rather than cut, so the trace never shows half a line.
  if (line_length + 2 > room) {
    return;
  }
  memcpy(end, line, line_length);
  end[line_length] = '\n';
  end[line_length + 1] = '\0';
  trace->length += line_length + 1;
  OutputDebugStringA(end);
}

void AppendTraceFormat(ProgressTrace* trace, const char* format, ...) {
  char line[kTraceLineSize];
  va_list arguments;
  va_start(arguments, format);
  FormatTextList(line, sizeof line, format, arguments);
  va_end(arguments);
  AppendTraceLine(trace, line);
}
