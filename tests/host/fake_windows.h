// Fakes of the operating-system and runtime services the launcher reaches through os_seam.h.
// The launcher's objects link against these definitions instead of Windows and msvcrt. Each test
// sets up the one global FakeSystem, runs launcher code, and then reads back what the fakes were
// asked: every call is logged as a line of text in call order, the registry and process calls are
// also kept as records, and the debugger output is collected line by line.
#ifndef TESTS_HOST_FAKE_WINDOWS_H_
#define TESTS_HOST_FAKE_WINDOWS_H_

#include <stdint.h>

#include <map>
#include <string>
#include <vector>

#include "os_seam.h"

// The fake handles the launcher is handed. None of them is ever dereferenced.
HMODULE FakeModuleHandle();
HANDLE FakeProcessHandle();
HANDLE FakeThreadHandle();
FILE* FakeStreamHandle();

// How FormatBoundedList behaves: as C99's vsnprintf, or as msvcrt's _vsnprintf, which leaves
// the buffer unterminated and returns -1 when the text is longer than the buffer, and returns
// the size without a terminator when the text is exactly as long as the buffer.
enum class FormatRuntime { kC99, kMsvcrt };

struct FakeValue {
  DWORD type;
  std::vector<BYTE> bytes;  // The value's data exactly as the registry stores it.
};

struct FakeKey {
  // The rights the running process holds on the key: an open asking for more is refused with
  // ERROR_ACCESS_DENIED.
  REGSAM granted = KEY_ALL_ACCESS;
  // The next this many opens of the key fail with open_failure_status, then opens succeed.
  int failing_opens = 0;
  LSTATUS open_failure_status = ERROR_ACCESS_DENIED;
  std::map<std::string, FakeValue> values;
};

enum class RegOp { kOpen, kRead, kClose };

// One registry call as the launcher made it, with what the fake answered.
struct RegCall {
  RegOp op;
  HKEY root = nullptr;  // kOpen: the root passed.
  std::string path;     // kOpen: the sub-key path, "<null>" for a null pointer.
  DWORD options = 0;
  REGSAM access = 0;
  HKEY key = nullptr;  // kOpen: the key handed out (null on failure); kRead/kClose: the key passed.
  std::string value_name;  // kRead: "<null>" for a null pointer.
  bool reserved_null = true;
  bool type_null = true;
  bool data_null = true;
  bool size_null = true;
  DWORD size_offered = 0;
  LSTATUS status = ERROR_SUCCESS;
};

struct FakeResource {
  HMODULE module;  // The module the resource belongs to; null stands for the process's own.
  WORD id;
  std::string type;
  const BYTE* bytes;  // Test-owned bytes that LockResource hands out.
  DWORD size;
};

struct CreateProcessCall {
  bool application_name_null;
  std::string command_line;
  bool process_attributes_null;
  bool thread_attributes_null;
  BOOL inherit_handles;
  DWORD creation_flags;
  bool environment_null;
  bool current_directory_null;
  bool startup_info_null;
  STARTUPINFOA startup_info;  // A copy of the record as it was passed.
  bool process_information_null;
  PROCESS_INFORMATION process_information_passed;  // Its content on entry.
};

struct WriteCall {
  const void* bytes;
  size_t size;
  size_t count;
  FILE* stream;
};

// A file as the fake file system holds it, by full path.
struct FakeFile {
  uint64_t size = 0;
  bool open = false;
};

struct FakeSystem {
  // --- What the launcher will be told. ---
  HMODULE module_handle = FakeModuleHandle();  // GetModuleHandleA(null) answers this.
  std::vector<FakeResource> resources;
  bool load_fails = false;              // LoadResource answers null even for a found resource.
  bool lock_fails = false;              // LockResource answers null.
  LANGID user_lang_id = 0x0409;         // GetUserDefaultLangID.
  std::map<std::string, FakeKey> hkcu;  // Keys by sub-key path.
  std::map<std::string, FakeKey> hklm;
  // The documentation leaves the data undefined after ERROR_MORE_DATA; when set, the offered
  // bytes are overwritten with 0xAA then, instead of being left alone.
  bool scribble_on_more_data = false;

  // GetTempPathA: the length it returns. When temp_path_stores is set it also stores
  // temp_path_text (its terminator included, the rest of the buffer then filled with '#').
  DWORD temp_path_result = 0;
  std::string temp_path_text;
  bool temp_path_stores = false;
  // The documentation promises nothing about the buffer when the call fails or the directory
  // does not fit: when set, all of it is filled with 'J' and no terminator, whatever is returned.
  bool temp_path_fills_junk = false;

  // GetFullPathNameA: relative names are resolved against current_directory (which ends in a
  // backslash). With full_path_override set it returns full_path_result and stores nothing.
  std::string current_directory = "C:\\work\\";
  bool full_path_override = false;
  DWORD full_path_result = 0;

  FormatRuntime format_runtime = FormatRuntime::kC99;
  bool open_fails = false;
  size_t short_write_count = SIZE_MAX;  // WriteStream writes at most this many elements.
  // CreateProcessA fails when this is set, or when the quoted path it gets names no written,
  // closed file.
  bool create_process_fails = false;
  DWORD wait_result = WAIT_OBJECT_0;  // For a non-null handle; null handles give WAIT_FAILED.

  // --- What the launcher did. ---
  std::vector<std::string> log;  // Every call, in order, as text.
  std::vector<std::string> debug_output;
  std::vector<RegCall> registry;
  std::vector<CreateProcessCall> create_process;
  std::vector<WriteCall> writes;
  std::map<std::string, FakeFile> files;                   // The fake file system, by full path.
  std::map<HKEY, std::pair<HKEY, std::string>> open_keys;  // Key handle to root and path.
  int next_key = 1;
  std::vector<HANDLE> closed_handles;
  bool stream_open = false;
  std::string stream_path;          // Full path of the open stream's file.
  std::vector<std::string> faults;  // Misuse the fakes noticed (unterminated text and the like).
};

// The one fake system. Reset() gives a fresh one: call it at the start of every test.
FakeSystem& Fake();
void ResetFake();

// The full path the fake GetFullPathNameA gives for a name.
std::string FakeFullPath(const std::string& name);

// The log lines that start with prefix, e.g. "CreateProcessA(".
std::vector<std::string> LogLines(const std::string& prefix);
// The called functions' names, in order.
std::vector<std::string> CallNames();

// GetTempPathA as the system answers for this directory: the text and its length when it fits
// in the buffer, else the size needed and nothing stored; an empty directory makes it fail.
void SetTempDirectory(const std::string& directory);

// Registry set-up helpers.
FakeValue DwordValue(uint32_t value);
FakeValue QwordValue(uint64_t value);
FakeValue BinaryValue(std::vector<BYTE> bytes);
FakeValue StringValue(const std::string& text);  // REG_SZ with its terminator.

#endif  // TESTS_HOST_FAKE_WINDOWS_H_
