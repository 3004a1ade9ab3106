// Host stand-in for <windows.h>: only the types, constants, records and functions the launcher
// uses, declared as the launcher relies on them. The host unit tests define the functions as
// fakes. windows_layout_check.cpp holds these against the real <windows.h> in the cross builds,
// so host and target cannot drift. With LAUNCHER_STAND_IN_TYPES_ONLY only the types and
// constants are declared (that check includes them beside the real header).
#ifndef LAUNCHER_HOST_WINDOWS_H_
#define LAUNCHER_HOST_WINDOWS_H_

#include <stddef.h>
#include <stdint.h>

// Windows' integer types keep their Windows widths: LONG and DWORD are 32 bits there.
typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef uintptr_t ULONG_PTR;
typedef WORD LANGID;
typedef LONG LSTATUS;
typedef DWORD REGSAM;
typedef char* LPSTR;
typedef const char* LPCSTR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef struct HINSTANCE__* HINSTANCE;
typedef HINSTANCE HMODULE;
typedef struct HRSRC__* HRSRC;
typedef HANDLE HGLOBAL;
typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;
constexpr DWORD MAX_PATH = 260;
constexpr DWORD INFINITE = 0xFFFFFFFFu;
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFFu;
constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;
constexpr REGSAM KEY_WOW64_64KEY = 0x0100;
constexpr REGSAM KEY_WOW64_32KEY = 0x0200;
constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_QWORD = 11;

// The predefined roots are fixed handle values.
inline HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000001u));
inline HKEY const HKEY_LOCAL_MACHINE = reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(0x80000002u));

// An integer resource name: the identifier in the low word of an otherwise null pointer.
inline LPSTR MAKEINTRESOURCEA(WORD id) {
  return reinterpret_cast<LPSTR>(static_cast<ULONG_PTR>(id));
}

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;

struct STARTUPINFOA {
  DWORD cb;
  LPSTR lpReserved;
  LPSTR lpDesktop;
  LPSTR lpTitle;
  DWORD dwX;
  DWORD dwY;
  DWORD dwXSize;
  DWORD dwYSize;
  DWORD dwXCountChars;
  DWORD dwYCountChars;
  DWORD dwFillAttribute;
  DWORD dwFlags;
  WORD wShowWindow;
  WORD cbReserved2;
  LPBYTE lpReserved2;
  HANDLE hStdInput;
  HANDLE hStdOutput;
  HANDLE hStdError;
};
typedef STARTUPINFOA* LPSTARTUPINFOA;

struct PROCESS_INFORMATION {
  HANDLE hProcess;
  HANDLE hThread;
  DWORD dwProcessId;
  DWORD dwThreadId;
};
typedef PROCESS_INFORMATION* LPPROCESS_INFORMATION;

#ifndef LAUNCHER_STAND_IN_TYPES_ONLY

// The calling convention is the platform's own on the host.
#define WINAPI

// Modules and resources.
HMODULE WINAPI GetModuleHandleA(LPCSTR module_name);
HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type);
HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource);
LPVOID WINAPI LockResource(HGLOBAL loaded);
DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource);

// National-language support.
LANGID WINAPI GetUserDefaultLangID();

// Files, processes and handles.
DWORD WINAPI GetTempPathA(DWORD buffer_length, LPSTR buffer);
DWORD WINAPI GetFullPathNameA(LPCSTR file_name, DWORD buffer_length, LPSTR buffer,
                              LPSTR* file_part);
BOOL WINAPI CreateProcessA(LPCSTR application_name, LPSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD creation_flags, LPVOID environment, LPCSTR current_directory,
                           LPSTARTUPINFOA startup_info, LPPROCESS_INFORMATION process_information);
DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL WINAPI CloseHandle(HANDLE handle);

// Debugger output.
void WINAPI OutputDebugStringA(LPCSTR text);

// Registry.
LSTATUS WINAPI RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD options, REGSAM desired,
                             PHKEY result);
LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD data_size);
LSTATUS WINAPI RegCloseKey(HKEY key);

#endif  // LAUNCHER_STAND_IN_TYPES_ONLY

#endif  // LAUNCHER_HOST_WINDOWS_H_
