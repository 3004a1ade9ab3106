// The fakes behind os_seam.h for the host unit tests.
#include "fake_windows.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <sstream>

namespace {

FakeSystem& State() {
  static FakeSystem state;
  return state;
}

constexpr ULONG_PTR kModuleValue = 0x00400000u;
constexpr ULONG_PTR kResourceBase = 0x00010000u;
constexpr ULONG_PTR kLoadedBase = 0x00020000u;
constexpr ULONG_PTR kKeyBase = 0x00030000u;
constexpr ULONG_PTR kProcessValue = 0x00005001u;
constexpr ULONG_PTR kThreadValue = 0x00005002u;
constexpr ULONG_PTR kStreamValue = 0x00007001u;

// Strings the launcher passes live in its fixed buffers: none may run past MAX_PATH bytes.
std::string TextArgument(const char* text, const char* what) {
  if (text == nullptr) {
    return "<null>";
  }
  const size_t length = strnlen(text, MAX_PATH);
  if (length == MAX_PATH) {
    State().faults.push_back(std::string(what) + ": no terminator within 260 bytes");
  }
  return std::string(text, length);
}

std::string Hex(ULONG_PTR value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

std::string KeyName(HKEY key) {
  if (key == nullptr) {
    return "null";
  }
  if (key == HKEY_CURRENT_USER) {
    return "HKCU";
  }
  if (key == HKEY_LOCAL_MACHINE) {
    return "HKLM";
  }
  const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(key);
  if (value > kKeyBase && value < kKeyBase + 0x1000) {
    return "key#" + std::to_string(value - kKeyBase);
  }
  return Hex(value);
}

std::string ModuleName(HMODULE module) {
  if (module == nullptr) {
    return "null";
  }
  if (module == FakeModuleHandle()) {
    return "module";
  }
  return Hex(reinterpret_cast<ULONG_PTR>(module));
}

const FakeResource* ResourceOf(HRSRC resource, ULONG_PTR base) {
  const ULONG_PTR value = reinterpret_cast<ULONG_PTR>(resource);
  const std::vector<FakeResource>& resources = State().resources;
  if (value < base || value >= base + resources.size()) {
    return nullptr;
  }
  return &resources[value - base];
}

std::string ResourceName(const void* handle, ULONG_PTR base, const char* kind) {
  if (handle == nullptr) {
    return "null";
  }
  const FakeResource* resource =
      ResourceOf(reinterpret_cast<HRSRC>(const_cast<void*>(handle)), base);
  if (resource == nullptr) {
    return Hex(reinterpret_cast<ULONG_PTR>(handle));
  }
  return std::string(kind) + "#" + std::to_string(resource->id);
}

std::string HandleName(HANDLE handle) {
  if (handle == nullptr) {
    return "null";
  }
  if (handle == FakeProcessHandle()) {
    return "process";
  }
  if (handle == FakeThreadHandle()) {
    return "thread";
  }
  return Hex(reinterpret_cast<ULONG_PTR>(handle));
}

std::string StreamName(FILE* stream) {
  if (stream == nullptr) {
    return "null";
  }
  if (stream == FakeStreamHandle()) {
    return "stream";
  }
  return Hex(reinterpret_cast<ULONG_PTR>(stream));
}

std::string Quoted(const std::string& text) {
  return "\"" + text + "\"";
}

void Log(const std::string& line) {
  State().log.push_back(line);
}

std::map<std::string, FakeKey>* KeysOf(HKEY root) {
  if (root == HKEY_CURRENT_USER) {
    return &State().hkcu;
  }
  if (root == HKEY_LOCAL_MACHINE) {
    return &State().hklm;
  }
  return nullptr;
}

constexpr LSTATUS kErrorInvalidHandle = 6;
constexpr LSTATUS kErrorInvalidParameter = 87;

// Touches every byte of an area the launcher claims is size bytes long, so that the address
// sanitizer reports a smaller one.
void ProbeArea(const void* area, size_t size) {
  const volatile unsigned char* bytes = static_cast<const volatile unsigned char*>(area);
  unsigned char sum = 0;
  for (size_t i = 0; i < size; ++i) {
    sum = static_cast<unsigned char>(sum + bytes[i]);
  }
  (void)sum;
}

}  // namespace

HMODULE FakeModuleHandle() {
  return reinterpret_cast<HMODULE>(kModuleValue);
}

HANDLE FakeProcessHandle() {
  return reinterpret_cast<HANDLE>(kProcessValue);
}

HANDLE FakeThreadHandle() {
  return reinterpret_cast<HANDLE>(kThreadValue);
}

FILE* FakeStreamHandle() {
  return reinterpret_cast<FILE*>(kStreamValue);
}

FakeSystem& Fake() {
  return State();
}

void ResetFake() {
  State() = FakeSystem();
}

std::string FakeFullPath(const std::string& name) {
  if (name.size() >= 3 && name[1] == ':' && name[2] == '\\') {
    return name;
  }
  if (!name.empty() && name[0] == '\\') {
    return "C:" + name;
  }
  return State().current_directory + name;
}

std::vector<std::string> LogLines(const std::string& prefix) {
  std::vector<std::string> lines;
  for (const std::string& line : State().log) {
    if (line.compare(0, prefix.size(), prefix) == 0) {
      lines.push_back(line);
    }
  }
  return lines;
}

std::vector<std::string> CallNames() {
  std::vector<std::string> names;
  for (const std::string& line : State().log) {
    names.push_back(line.substr(0, line.find('(')));
  }
  return names;
}

void SetTempDirectory(const std::string& directory) {
  FakeSystem& state = State();
  state.temp_path_text = directory;
  if (directory.empty()) {
    state.temp_path_result = 0;
    state.temp_path_stores = false;
  } else if (directory.size() < MAX_PATH) {
    state.temp_path_result = static_cast<DWORD>(directory.size());
    state.temp_path_stores = true;
  } else {
    state.temp_path_result = static_cast<DWORD>(directory.size() + 1);
    state.temp_path_stores = false;
  }
}

FakeValue DwordValue(uint32_t value) {
  FakeValue result{REG_DWORD, {}};
  for (int i = 0; i < 4; ++i) {
    result.bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
  }
  return result;
}

FakeValue QwordValue(uint64_t value) {
  FakeValue result{REG_QWORD, {}};
  for (int i = 0; i < 8; ++i) {
    result.bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
  }
  return result;
}

FakeValue BinaryValue(std::vector<BYTE> bytes) {
  return FakeValue{REG_BINARY, std::move(bytes)};
}

FakeValue StringValue(const std::string& text) {
  FakeValue result{REG_SZ, std::vector<BYTE>(text.begin(), text.end())};
  result.bytes.push_back(0);
  return result;
}

// --- Modules and resources. ---

HMODULE WINAPI GetModuleHandleA(LPCSTR module_name) {
  Log("GetModuleHandleA(" +
      (module_name == nullptr ? std::string("null")
                              : Quoted(TextArgument(module_name, "GetModuleHandleA"))) +
      ")");
  return module_name == nullptr ? State().module_handle : nullptr;
}

HRSRC WINAPI FindResourceA(HMODULE module, LPCSTR name, LPCSTR type) {
  const ULONG_PTR name_value = reinterpret_cast<ULONG_PTR>(name);
  const bool integer_name = name_value <= 0xFFFFu;
  const std::string type_text = reinterpret_cast<ULONG_PTR>(type) <= 0xFFFFu
                                    ? "#" + std::to_string(reinterpret_cast<ULONG_PTR>(type))
                                    : TextArgument(type, "FindResourceA type");
  Log("FindResourceA(" + ModuleName(module) + ", " +
      (integer_name ? "#" + std::to_string(name_value)
                    : Quoted(TextArgument(name, "FindResourceA name"))) +
      ", " + Quoted(type_text) + ")");
  if (!integer_name) {
    return nullptr;
  }
  const std::vector<FakeResource>& resources = State().resources;
  for (size_t i = 0; i < resources.size(); ++i) {
    if (resources[i].module == module && resources[i].id == name_value &&
        resources[i].type == type_text) {
      return reinterpret_cast<HRSRC>(kResourceBase + i);
    }
  }
  return nullptr;
}

HGLOBAL WINAPI LoadResource(HMODULE module, HRSRC resource) {
  Log("LoadResource(" + ModuleName(module) + ", " + ResourceName(resource, kResourceBase, "res") +
      ")");
  const FakeResource* found = ResourceOf(resource, kResourceBase);
  if (found == nullptr || found->module != module || State().load_fails) {
    return nullptr;
  }
  return reinterpret_cast<HGLOBAL>(kLoadedBase + (found - State().resources.data()));
}

LPVOID WINAPI LockResource(HGLOBAL loaded) {
  Log("LockResource(" + ResourceName(loaded, kLoadedBase, "loaded") + ")");
  const FakeResource* found = ResourceOf(reinterpret_cast<HRSRC>(loaded), kLoadedBase);
  if (found == nullptr || State().lock_fails) {
    return nullptr;
  }
  return const_cast<BYTE*>(found->bytes);
}

DWORD WINAPI SizeofResource(HMODULE module, HRSRC resource) {
  Log("SizeofResource(" + ModuleName(module) + ", " + ResourceName(resource, kResourceBase, "res") +
      ")");
  const FakeResource* found = ResourceOf(resource, kResourceBase);
  if (found == nullptr || found->module != module) {
    return 0;
  }
  return found->size;
}

// --- National-language support. ---

LANGID WINAPI GetUserDefaultLangID() {
  Log("GetUserDefaultLangID()");
  return State().user_lang_id;
}

// --- Files, processes and handles. ---

DWORD WINAPI GetTempPathA(DWORD buffer_length, LPSTR buffer) {
  Log("GetTempPathA(" + std::to_string(buffer_length) + ")");
  FakeSystem& state = State();
  if (state.temp_path_fills_junk) {
    memset(buffer, 'J', buffer_length);
  } else if (state.temp_path_stores) {
    const std::string& text = state.temp_path_text;
    if (text.size() + 1 > buffer_length) {
      state.faults.push_back("GetTempPathA: test stores more than the buffer holds");
      return state.temp_path_result;
    }
    memcpy(buffer, text.c_str(), text.size() + 1);
    memset(buffer + text.size() + 1, '#', buffer_length - text.size() - 1);
  }
  return state.temp_path_result;
}

DWORD WINAPI GetFullPathNameA(LPCSTR file_name, DWORD buffer_length, LPSTR buffer,
                              LPSTR* file_part) {
  const std::string name = TextArgument(file_name, "GetFullPathNameA");
  Log("GetFullPathNameA(" + Quoted(name) + ", " + std::to_string(buffer_length) + ")");
  FakeSystem& state = State();
  if (state.full_path_override) {
    return state.full_path_result;
  }
  const std::string full = FakeFullPath(name);
  if (full.size() >= buffer_length) {
    return static_cast<DWORD>(full.size() + 1);
  }
  memcpy(buffer, full.c_str(), full.size() + 1);
  memset(buffer + full.size() + 1, '#', buffer_length - full.size() - 1);
  if (file_part != nullptr) {
    *file_part = buffer + full.rfind('\\') + 1;
  }
  return static_cast<DWORD>(full.size());
}

BOOL WINAPI CreateProcessA(LPCSTR application_name, LPSTR command_line,
                           LPSECURITY_ATTRIBUTES process_attributes,
                           LPSECURITY_ATTRIBUTES thread_attributes, BOOL inherit_handles,
                           DWORD creation_flags, LPVOID environment, LPCSTR current_directory,
                           LPSTARTUPINFOA startup_info, LPPROCESS_INFORMATION process_information) {
  FakeSystem& state = State();
  if (command_line != nullptr) {
    // The launcher's command line is a MAX_PATH-byte buffer; all of it must be there.
    ProbeArea(command_line, MAX_PATH);
  }
  CreateProcessCall call{};
  call.application_name_null = application_name == nullptr;
  call.command_line = TextArgument(command_line, "CreateProcessA command line");
  call.process_attributes_null = process_attributes == nullptr;
  call.thread_attributes_null = thread_attributes == nullptr;
  call.inherit_handles = inherit_handles;
  call.creation_flags = creation_flags;
  call.environment_null = environment == nullptr;
  call.current_directory_null = current_directory == nullptr;
  call.startup_info_null = startup_info == nullptr;
  if (startup_info != nullptr) {
    call.startup_info = *startup_info;
  }
  call.process_information_null = process_information == nullptr;
  if (process_information != nullptr) {
    call.process_information_passed = *process_information;
  }
  state.create_process.push_back(call);
  Log("CreateProcessA(" + call.command_line + ")");

  if (state.create_process_fails || process_information == nullptr) {
    return FALSE;
  }
  // The program named by the quoted path must be a written and closed file.
  const std::string& line = call.command_line;
  if (line.size() < 2 || line.front() != '"' || line.back() != '"') {
    return FALSE;
  }
  const auto file = state.files.find(line.substr(1, line.size() - 2));
  if (file == state.files.end() || file->second.open) {
    return FALSE;
  }
  process_information->hProcess = FakeProcessHandle();
  process_information->hThread = FakeThreadHandle();
  process_information->dwProcessId = 1234;
  process_information->dwThreadId = 5678;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  Log("WaitForSingleObject(" + HandleName(handle) + ", " +
      (milliseconds == INFINITE ? std::string("INFINITE") : std::to_string(milliseconds)) + ")");
  return handle == nullptr ? WAIT_FAILED : State().wait_result;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  Log("CloseHandle(" + HandleName(handle) + ")");
  FakeSystem& state = State();
  if (handle == nullptr) {
    return FALSE;
  }
  if (std::find(state.closed_handles.begin(), state.closed_handles.end(), handle) !=
      state.closed_handles.end()) {
    state.faults.push_back("CloseHandle: " + HandleName(handle) + " closed twice");
    return FALSE;
  }
  state.closed_handles.push_back(handle);
  return TRUE;
}

// --- Debugger output. ---

void WINAPI OutputDebugStringA(LPCSTR text) {
  if (text == nullptr) {
    State().faults.push_back("OutputDebugStringA: null text");
    return;
  }
  State().debug_output.push_back(text);
}

// --- Registry. ---

LSTATUS WINAPI RegOpenKeyExA(HKEY root, LPCSTR sub_key, DWORD options, REGSAM desired,
                             PHKEY result) {
  FakeSystem& state = State();
  RegCall call{};
  call.op = RegOp::kOpen;
  call.root = root;
  call.path = TextArgument(sub_key, "RegOpenKeyExA path");
  call.options = options;
  call.access = desired;
  if (!state.open_keys.empty()) {
    state.faults.push_back("RegOpenKeyExA while " + KeyName(state.open_keys.begin()->first) +
                           " is still open");
  }
  std::map<std::string, FakeKey>* keys = KeysOf(root);
  if (keys == nullptr || result == nullptr) {
    call.status = kErrorInvalidHandle;
  } else {
    const auto key = keys->find(call.path);
    if (key == keys->end()) {
      call.status = ERROR_FILE_NOT_FOUND;
    } else if (key->second.failing_opens > 0) {
      --key->second.failing_opens;
      call.status = key->second.open_failure_status;
    } else if ((desired & ~key->second.granted) != 0) {
      call.status = ERROR_ACCESS_DENIED;
    } else {
      call.key = reinterpret_cast<HKEY>(kKeyBase + state.next_key++);
      state.open_keys[call.key] = std::make_pair(root, call.path);
      *result = call.key;
    }
  }
  state.registry.push_back(call);
  Log("RegOpenKeyExA(" + KeyName(root) + ", " + Quoted(call.path) + ", " + std::to_string(options) +
      ", " + Hex(desired) + ")");
  return call.status;
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR value_name, LPDWORD reserved, LPDWORD type,
                                LPBYTE data, LPDWORD data_size) {
  FakeSystem& state = State();
  RegCall call{};
  call.op = RegOp::kRead;
  call.key = key;
  call.value_name = TextArgument(value_name, "RegQueryValueExA name");
  call.reserved_null = reserved == nullptr;
  call.type_null = type == nullptr;
  call.data_null = data == nullptr;
  call.size_null = data_size == nullptr;
  call.size_offered = data_size == nullptr ? 0 : *data_size;
  Log("RegQueryValueExA(" + KeyName(key) + ", " + Quoted(call.value_name) + ")");

  const auto open = state.open_keys.find(key);
  if (open == state.open_keys.end()) {
    state.faults.push_back("RegQueryValueExA on " + KeyName(key) + ", which is not open");
    call.status = kErrorInvalidHandle;
  } else if (data != nullptr && data_size == nullptr) {
    call.status = kErrorInvalidParameter;
  } else {
    const FakeKey& fake_key = (*KeysOf(open->second.first))[open->second.second];
    const auto value = fake_key.values.find(call.value_name);
    if (value == fake_key.values.end()) {
      call.status = ERROR_FILE_NOT_FOUND;
    } else {
      const std::vector<BYTE>& bytes = value->second.bytes;
      if (data != nullptr && bytes.size() > *data_size) {
        if (state.scribble_on_more_data) {
          memset(data, 0xAA, *data_size);
        }
        call.status = ERROR_MORE_DATA;
      } else {
        if (data != nullptr && !bytes.empty()) {
          memcpy(data, bytes.data(), bytes.size());
        }
        call.status = ERROR_SUCCESS;
      }
      if (type != nullptr) {
        *type = value->second.type;
      }
      if (data_size != nullptr) {
        *data_size = static_cast<DWORD>(bytes.size());
      }
    }
  }
  state.registry.push_back(call);
  return call.status;
}

LSTATUS WINAPI RegCloseKey(HKEY key) {
  FakeSystem& state = State();
  RegCall call{};
  call.op = RegOp::kClose;
  call.key = key;
  if (state.open_keys.erase(key) == 0) {
    state.faults.push_back("RegCloseKey on " + KeyName(key) + ", which is not open");
    call.status = kErrorInvalidHandle;
  }
  state.registry.push_back(call);
  Log("RegCloseKey(" + KeyName(key) + ")");
  return call.status;
}

// --- Runtime services. ---

FILE* OpenStream(const char* path, const char* mode) {
  FakeSystem& state = State();
  const std::string name = TextArgument(path, "OpenStream path");
  Log("OpenStream(" + Quoted(name) + ", " + Quoted(TextArgument(mode, "OpenStream mode")) + ")");
  if (state.open_fails || path == nullptr) {
    return nullptr;
  }
  if (state.stream_open) {
    state.faults.push_back("OpenStream while a stream is open");
    return nullptr;
  }
  state.stream_open = true;
  state.stream_path = FakeFullPath(name);
  state.files[state.stream_path] = FakeFile{0, true};
  return FakeStreamHandle();
}

size_t WriteStream(const void* bytes, size_t size, size_t count, FILE* stream) {
  FakeSystem& state = State();
  state.writes.push_back(WriteCall{bytes, size, count, stream});
  Log("WriteStream(" + std::to_string(size) + ", " + std::to_string(count) + ", " +
      StreamName(stream) + ")");
  if (stream != FakeStreamHandle() || !state.stream_open) {
    state.faults.push_back("WriteStream on a stream that is not open");
    return 0;
  }
  const size_t written = std::min(count, state.short_write_count);
  state.files[state.stream_path].size += static_cast<uint64_t>(written) * size;
  return written;
}

int CloseStream(FILE* stream) {
  FakeSystem& state = State();
  Log("CloseStream(" + StreamName(stream) + ")");
  if (stream != FakeStreamHandle() || !state.stream_open) {
    state.faults.push_back("CloseStream on a stream that is not open");
    return EOF;
  }
  state.stream_open = false;
  state.files[state.stream_path].open = false;
  return 0;
}

int RemoveFile(const char* path) {
  FakeSystem& state = State();
  const std::string name = TextArgument(path, "RemoveFile path");
  Log("RemoveFile(" + Quoted(name) + ")");
  const auto file = state.files.find(FakeFullPath(name));
  if (file == state.files.end() || file->second.open) {
    return -1;
  }
  state.files.erase(file);
  return 0;
}

int FormatBoundedList(char* buffer, size_t size, const char* format, va_list arguments) {
  // Every byte of the buffer must exist, whatever the text's length.
  ProbeArea(buffer, size);
  if (State().format_runtime == FormatRuntime::kC99) {
    return vsnprintf(buffer, size, format, arguments);
  }
  va_list measuring;
  va_copy(measuring, arguments);
  const int needed = vsnprintf(nullptr, 0, format, measuring);
  va_end(measuring);
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  vsnprintf(&text[0], text.size(), format, arguments);
  const size_t length = static_cast<size_t>(needed);
  if (length < size) {
    memcpy(buffer, text.c_str(), length + 1);
    // Whatever follows the terminator is not the caller's to rely on.
    memset(buffer + length + 1, '#', size - length - 1);
    return needed;
  }
  // No terminator: the buffer is filled with the first size characters.
  memcpy(buffer, text.data(), size);
  return length == size ? needed : -1;
}
