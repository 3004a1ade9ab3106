// Compiled in the cross builds only: holds the host stand-in's constants and records against
// the real <windows.h>, so that the host tests and the Windows images cannot drift apart.
#include <stddef.h>
#include <stdint.h>

#define LAUNCHER_STAND_IN_TYPES_ONLY
namespace stand_in {
#include "host_windows.h"
}  // namespace stand_in

// <windows.h> defines its constants as macros, so the stand-in's values are captured under
// other names before it is included, and compared after.
#define STAND_IN_CONSTANTS(X)                                                              \
  X(FALSE) X(TRUE) X(MAX_PATH) X(INFINITE) X(ERROR_SUCCESS) X(ERROR_FILE_NOT_FOUND)        \
  X(ERROR_ACCESS_DENIED) X(ERROR_MORE_DATA) X(WAIT_OBJECT_0) X(WAIT_FAILED)                \
  X(KEY_QUERY_VALUE) X(KEY_ALL_ACCESS) X(KEY_WOW64_64KEY) X(KEY_WOW64_32KEY) X(REG_NONE) \
  X(REG_SZ) X(REG_BINARY) X(REG_DWORD) X(REG_QWORD)

namespace captured {
#define CAPTURE_CONSTANT(name) constexpr auto name##_value = stand_in::name;
STAND_IN_CONSTANTS(CAPTURE_CONSTANT)
}  // namespace captured

#include <windows.h>

namespace {

template <typename A, typename B>
constexpr bool SameShape() {
  return sizeof(A) == sizeof(B) && alignof(A) == alignof(B) &&
         (static_cast<A>(-1) > 0) == (static_cast<B>(-1) > 0);
}

static_assert(SameShape<stand_in::BOOL, BOOL>(), "BOOL");
static_assert(SameShape<stand_in::BYTE, BYTE>(), "BYTE");
static_assert(SameShape<stand_in::WORD, WORD>(), "WORD");
static_assert(SameShape<stand_in::DWORD, DWORD>(), "DWORD");
static_assert(SameShape<stand_in::LONG, LONG>(), "LONG");
static_assert(SameShape<stand_in::UINT, UINT>(), "UINT");
static_assert(SameShape<stand_in::ULONG_PTR, ULONG_PTR>(), "ULONG_PTR");
static_assert(SameShape<stand_in::LANGID, LANGID>(), "LANGID");
static_assert(SameShape<stand_in::LSTATUS, LSTATUS>(), "LSTATUS");
static_assert(SameShape<stand_in::REGSAM, REGSAM>(), "REGSAM");
static_assert(sizeof(stand_in::HANDLE) == sizeof(HANDLE), "HANDLE");
static_assert(sizeof(stand_in::HKEY) == sizeof(HKEY), "HKEY");

#define CHECK_CONSTANT(name) static_assert(captured::name##_value == (name), #name);
STAND_IN_CONSTANTS(CHECK_CONSTANT)

#define SAME_FIELD(record, field)                                            \
  static_assert(offsetof(stand_in::record, field) == offsetof(record, field) && \
                    sizeof(stand_in::record::field) == sizeof(record::field),   \
                #record "." #field)

static_assert(sizeof(stand_in::STARTUPINFOA) == sizeof(STARTUPINFOA), "STARTUPINFOA");
SAME_FIELD(STARTUPINFOA, cb);
SAME_FIELD(STARTUPINFOA, lpDesktop);
SAME_FIELD(STARTUPINFOA, dwFlags);
SAME_FIELD(STARTUPINFOA, wShowWindow);
SAME_FIELD(STARTUPINFOA, lpReserved2);
SAME_FIELD(STARTUPINFOA, hStdError);
static_assert(sizeof(stand_in::PROCESS_INFORMATION) == sizeof(PROCESS_INFORMATION),
              "PROCESS_INFORMATION");
SAME_FIELD(PROCESS_INFORMATION, hProcess);
SAME_FIELD(PROCESS_INFORMATION, hThread);
SAME_FIELD(PROCESS_INFORMATION, dwProcessId);
SAME_FIELD(PROCESS_INFORMATION, dwThreadId);

// The 32-bit layout the release image is built for.
static_assert(sizeof(void*) != 4 || sizeof(STARTUPINFOA) == 68, "32-bit STARTUPINFOA is 68 bytes");
static_assert(sizeof(void*) != 4 || sizeof(PROCESS_INFORMATION) == 16,
              "32-bit PROCESS_INFORMATION is 16 bytes");

}  // namespace
