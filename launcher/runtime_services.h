// The C runtime services the launcher uses, under names of its own. On Windows they are thin
// forwards to msvcrt (runtime_services_win.cpp); on the host the unit tests define them as
// fakes, which leaves the host's own C library untouched for the test runner and sanitizers.
#ifndef LAUNCHER_RUNTIME_SERVICES_H_
#define LAUNCHER_RUNTIME_SERVICES_H_

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

// Opens a stream; null when the file cannot be opened in that mode.
FILE* OpenStream(const char* path, const char* mode);
// Writes count elements of size bytes; returns the number of elements written.
size_t WriteStream(const void* bytes, size_t size, size_t count, FILE* stream);
// Closes the stream; 0 on success.
int CloseStream(FILE* stream);
// Removes the file; 0 on success.
int RemoveFile(const char* path);
// Bounded formatted print as the platform's runtime does it. Callers must not rely on the
// result or on termination when the text does not fit: msvcrt then leaves the buffer
// unterminated and returns -1, where C99 runtimes terminate it and return the length needed.
// bounded_format.h is the form the launcher uses.
int FormatBoundedList(char* buffer, size_t size, const char* format, va_list arguments);

#endif  // LAUNCHER_RUNTIME_SERVICES_H_
