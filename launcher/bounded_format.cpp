// Bounded formatting that behaves the same on every runtime.
#include "bounded_format.h"

#include "os_seam.h"

void FormatTextList(char* buffer, size_t size, const char* format, va_list arguments) {
  FormatBoundedList(buffer, size, format, arguments);
  // msvcrt leaves the buffer unterminated when the text fills or overflows it.
  buffer[size - 1] = '\0';
}

void FormatText(char* buffer, size_t size, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatTextList(buffer, size, format, arguments);
  va_end(arguments);
}
