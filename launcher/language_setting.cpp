// The installed product's own language setting.
#include "language_setting.h"

#include "bounded_format.h"

namespace {

constexpr size_t kKeyPathSize = 260;

// Opens the product's key for reading only. Full access would be refused to a standard user
// under HKEY_LOCAL_MACHINE and hide the value; no view flag is passed, so the key is the one
// of the process's own registry view.
bool OpenProductKey(HKEY root, const char* key_path, HKEY* key) {
  return RegOpenKeyExA(root, key_path, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

// Reads the value's raw bytes into the code, offering exactly its 4 bytes and asking for no
// type, then closes the key whatever the read gave.
bool ReadValueAndClose(HKEY key, LanguageCode* language) {
  // A shorter value fills only the low bytes; the rest must read 0, also on a second read.
  *language = 0;
  DWORD size = sizeof *language;
  const LSTATUS status = RegQueryValueExA(key, kLanguageValueName, nullptr, nullptr,
                                          reinterpret_cast<BYTE*>(language), &size);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

}  // namespace

static_assert(sizeof(LanguageCode) == 4, "the value is read into exactly 4 bytes");

int ReadLanguageSetting(HKEY root, LanguageCode* language) {
  *language = 0;
  char key_path[kKeyPathSize];
  FormatText(key_path, sizeof key_path, "%s%s", kProductKeyPath, "");

  HKEY key = nullptr;
  if (OpenProductKey(root, key_path, &key)) {
    if (ReadValueAndClose(key, language)) {
      return 0;
    }
  } else if (root == HKEY_CURRENT_USER) {
    if (!OpenProductKey(HKEY_LOCAL_MACHINE, key_path, &key)) {
      return -1;
    }
    if (ReadValueAndClose(key, language)) {
      return 0;
    }
  }

  // One more read under HKEY_LOCAL_MACHINE, whichever root the call began with.
  if (OpenProductKey(HKEY_LOCAL_MACHINE, key_path, &key) && ReadValueAndClose(key, language)) {
    return 0;
  }
  return -1;
}
