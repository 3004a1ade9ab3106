// The launch sequence. Every failure ends the run quietly with exit code 0.
#include "launcher_main.h"

#include "language.h"
#include "language_setting.h"
#include "progress_trace.h"
#include "staging.h"

int LauncherMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  ProgressTrace trace;
  StartTrace(&trace);
  AppendTraceLine(&trace, "Hello.");

  // A null handle is not an end: the resource calls below then fail on their own.
  HMODULE module = GetModuleHandleA(nullptr);
  if (module != nullptr) {
    AppendTraceLine(&trace, "Got the program's handle.");
  }

  // The product's own setting wins; the user's locale decides only when neither root has it.
  LanguageCode language = 0;
  if (ReadLanguageSetting(HKEY_CURRENT_USER, &language) == 0) {
    AppendTraceLine(&trace, "Got the language from Current User.");
  } else if (ReadLanguageSetting(HKEY_LOCAL_MACHINE, &language) == 0) {
    AppendTraceLine(&trace, "Got the language from Local Machine.");
  } else {
    language = LanguageFromLangId(GetUserDefaultLangID());
  }

  const PayloadId payload_id = PayloadIdForLanguage(language);
  HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(payload_id), kPayloadResourceType);
  if (resource != nullptr) {
    AppendTraceFormat(&trace, "Found the resource with the %d language.",
                      static_cast<int>(language));
  }
  // Called even without a resource: it then fails, and a missing edition ends the run here,
  // before anything is written. No other edition is tried.
  HGLOBAL loaded = LoadResource(module, resource);
  if (loaded == nullptr) {
    return 0;
  }
  AppendTraceLine(&trace, "Loaded the resource successfully.");
  // The edition's bytes stay in the mapped image: never copied, unlocked or freed.
  const void* payload = LockResource(loaded);
  if (payload == nullptr) {
    return 0;
  }
  AppendTraceLine(&trace, "Got the resource data pointer.");
  const DWORD payload_size = SizeofResource(module, resource);
  AppendTraceFormat(&trace, "Size of data %u", static_cast<unsigned>(payload_size));

  char staging_path[kStagingPathSize];
  if (!StagePayload(payload, payload_size, staging_path, &trace)) {
    return 0;
  }
  RunPayload(staging_path, &trace);
  return 0;
}
