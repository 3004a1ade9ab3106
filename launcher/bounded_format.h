// Bounded formatting that behaves the same on every runtime: the text is cut at the buffer's
// end and the buffer is always terminated, whatever the runtime reports. Callers that must not
// cut decide from lengths they know before they format.
#ifndef LAUNCHER_BOUNDED_FORMAT_H_
#define LAUNCHER_BOUNDED_FORMAT_H_

#include <stdarg.h>
#include <stddef.h>

// Formats into buffer (size > 0), cutting the text if it does not fit; always terminated.
void FormatText(char* buffer, size_t size, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
void FormatTextList(char* buffer, size_t size, const char* format, va_list arguments);

#endif  // LAUNCHER_BOUNDED_FORMAT_H_
