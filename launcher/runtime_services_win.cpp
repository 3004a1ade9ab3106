// The runtime services on Windows: forwards to msvcrt.dll, the C runtime every Windows ships.
#include "runtime_services.h"

FILE* OpenStream(const char* path, const char* mode) {
  return fopen(path, mode);
}

size_t WriteStream(const void* bytes, size_t size, size_t count, FILE* stream) {
  return fwrite(bytes, size, count, stream);
}

int CloseStream(FILE* stream) {
  return fclose(stream);
}

int RemoveFile(const char* path) {
  return remove(path);
}

int FormatBoundedList(char* buffer, size_t size, const char* format, va_list arguments) {
  return _vsnprintf(buffer, size, format, arguments);
}
