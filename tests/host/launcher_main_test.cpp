// The launch sequence as a whole: the calls it makes in order, the trace it emits, where the
// language comes from, and how each of its ends looks.
#include "launcher_main.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "fake_windows.h"

namespace {

const char kKeyPath[] = "Software\\Velmora\\Orchardvale\\{5A0C3E71-92B4-4F6D-8E27-C1D94B60A3F8}\\";

// Distinct bytes and sizes for each edition, so that the one written can be told apart.
const std::vector<BYTE>& EditionBytes(WORD id) {
  static std::map<WORD, std::vector<BYTE>> editions;
  std::vector<BYTE>& bytes = editions[id];
  if (bytes.empty()) {
    bytes.assign(static_cast<size_t>(id) * 3, static_cast<BYTE>(id));
    bytes[0] = 'M';
    bytes[1] = 'Z';
  }
  return bytes;
}

void InstallEditions(HMODULE module, const std::vector<WORD>& ids) {
  for (const WORD id : ids) {
    const std::vector<BYTE>& bytes = EditionBytes(id);
    Fake().resources.push_back(
        FakeResource{module, id, "BINARYDATA", bytes.data(), static_cast<DWORD>(bytes.size())});
  }
}

void SetLanguage(std::map<std::string, FakeKey>& root, const FakeValue& value) {
  FakeKey key;
  key.values["Language"] = value;
  root[kKeyPath] = key;
}

int RunLauncher() {
  // Arguments of a GUI entry that must all be ignored.
  static char command_line[] = "/quiet \"C:\\other\\patch.exe\" --lang=7";
  return LauncherMain(reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x10000000u)),
                      reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(0x20000000u)),
                      command_line, 3);
}

class LauncherMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prepare();
  }

  // Every edition present, the temporary directory C:\Temp\, a user locale of English.
  void Prepare() {
    ResetFake();
    InstallEditions(FakeModuleHandle(), {129, 131, 132, 133, 134});
    SetTempDirectory("C:\\Temp\\");
  }
};

TEST_F(LauncherMainTest, NormalRunMakesTheseCallsAndTraceLinesInOrder) {
  for (const FormatRuntime runtime : {FormatRuntime::kC99, FormatRuntime::kMsvcrt}) {
    SCOPED_TRACE(runtime == FormatRuntime::kC99 ? "C99" : "msvcrt");
    Prepare();
    Fake().format_runtime = runtime;
    SetLanguage(Fake().hkcu, DwordValue(7));
    EXPECT_EQ(RunLauncher(), 0);

    const std::string size = std::to_string(EditionBytes(133).size());
    EXPECT_EQ(Fake().debug_output, (std::vector<std::string>{
                                       "Hello.\n",
                                       "Got the program's handle.\n",
                                       "Got the language from Current User.\n",
                                       "Found the resource with the 7 language.\n",
                                       "Loaded the resource successfully.\n",
                                       "Got the resource data pointer.\n",
                                       "Size of data " + size + "\n",
                                       "Get temp path returned C:\\Temp\\\n",
                                       "Actual buffer size is 8 compared to max path 250\n",
                                       "Got the final path with [C:\\Temp\\patch.exe]\n",
                                       "Preparing to write buffer size of " + size + "\n",
                                       "Starting execution of file [C:\\Temp\\patch.exe]\n",
                                   }));
    EXPECT_EQ(Fake().log, (std::vector<std::string>{
                              "GetModuleHandleA(null)",
                              "RegOpenKeyExA(HKCU, \"" + std::string(kKeyPath) + "\", 0, 0x1)",
                              "RegQueryValueExA(key#1, \"Language\")",
                              "RegCloseKey(key#1)",
                              "FindResourceA(module, #133, \"BINARYDATA\")",
                              "LoadResource(module, res#133)",
                              "LockResource(loaded#133)",
                              "SizeofResource(module, res#133)",
                              "GetTempPathA(260)",
                              "OpenStream(\"C:\\Temp\\patch.exe\", \"wb\")",
                              "WriteStream(1, " + size + ", stream)",
                              "CloseStream(stream)",
                              "GetFullPathNameA(\"C:\\Temp\\patch.exe\", 260)",
                              "CreateProcessA(\"C:\\Temp\\patch.exe\")",
                              "WaitForSingleObject(process, INFINITE)",
                              "CloseHandle(process)",
                              "CloseHandle(thread)",
                              "RemoveFile(\"C:\\Temp\\patch.exe\")",
                          }));
    ASSERT_EQ(Fake().writes.size(), 1u);
    EXPECT_EQ(Fake().writes[0].bytes, static_cast<const void*>(EditionBytes(133).data()));
    EXPECT_TRUE(Fake().files.empty());
    EXPECT_TRUE(Fake().faults.empty()) << Fake().faults.front();
  }
}

// Each way the run can end, with the last call made and the last trace line emitted.
TEST_F(LauncherMainTest, EachEndStopsWhereItShouldAndReturnsZero) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> last_calls;
    std::string last_trace_line;
  };
  const Case cases[] = {
      {"edition missing",
       [] {
         Fake().resources.clear();
         InstallEditions(FakeModuleHandle(), {129, 131, 132, 134});
       },
       {"FindResourceA(module, #133, \"BINARYDATA\")", "LoadResource(module, null)"},
       "Got the language from Current User.\n"},
      {"edition not loadable",
       [] { Fake().load_fails = true; },
       {"FindResourceA(module, #133, \"BINARYDATA\")", "LoadResource(module, res#133)"},
       "Found the resource with the 7 language.\n"},
      {"edition not lockable",
       [] { Fake().lock_fails = true; },
       {"LoadResource(module, res#133)", "LockResource(loaded#133)"},
       "Loaded the resource successfully.\n"},
      {"staging file not opened",
       [] { Fake().open_fails = true; },
       {"GetTempPathA(260)", "OpenStream(\"C:\\Temp\\patch.exe\", \"wb\")"},
       "Preparing to write buffer size of 399\n"},
      {"normal end",
       [] {},
       {"CloseHandle(thread)", "RemoveFile(\"C:\\Temp\\patch.exe\")"},
       "Starting execution of file [C:\\Temp\\patch.exe]\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare();
    SetLanguage(Fake().hkcu, DwordValue(7));
    c.arrange();
    EXPECT_EQ(RunLauncher(), 0);
    const std::vector<std::string>& log = Fake().log;
    ASSERT_GE(log.size(), c.last_calls.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - c.last_calls.size(), log.end()), c.last_calls);
    ASSERT_FALSE(Fake().debug_output.empty());
    EXPECT_EQ(Fake().debug_output.back(), c.last_trace_line);
    // One edition is looked for, never a second; nothing is left on disk.
    EXPECT_EQ(LogLines("FindResourceA(").size(), 1u);
    EXPECT_TRUE(Fake().files.empty());
    if (c.last_trace_line != "Starting execution of file [C:\\Temp\\patch.exe]\n") {
      EXPECT_TRUE(LogLines("RemoveFile(").empty());
      EXPECT_TRUE(LogLines("CreateProcessA(").empty());
    }
  }
}

TEST_F(LauncherMainTest, NullModuleHandleIsPassedOnAndTheRunGoesOn) {
  // With a null handle the system looks in the process's own image.
  ResetFake();
  Fake().module_handle = nullptr;
  InstallEditions(nullptr, {129, 131, 132, 133, 134});
  SetTempDirectory("C:\\Temp\\");
  SetLanguage(Fake().hkcu, DwordValue(10));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(LogLines("FindResourceA("),
            (std::vector<std::string>{"FindResourceA(null, #134, \"BINARYDATA\")"}));
  EXPECT_EQ(LogLines("LoadResource("), (std::vector<std::string>{"LoadResource(null, res#134)"}));
  EXPECT_EQ(LogLines("SizeofResource("),
            (std::vector<std::string>{"SizeofResource(null, res#134)"}));
  ASSERT_GE(Fake().debug_output.size(), 3u);
  EXPECT_EQ(Fake().debug_output[0], "Hello.\n");
  EXPECT_EQ(Fake().debug_output[1], "Got the language from Current User.\n");
  EXPECT_EQ(LogLines("RemoveFile("),
            (std::vector<std::string>{"RemoveFile(\"C:\\Temp\\patch.exe\")"}));

  // When the resources don't answer to the null handle, the run ends at the load.
  Prepare();
  Fake().module_handle = nullptr;
  SetLanguage(Fake().hkcu, DwordValue(10));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(Fake().log.back(), "LoadResource(null, null)");
  EXPECT_EQ(Fake().debug_output,
            (std::vector<std::string>{"Hello.\n", "Got the language from Current User.\n"}));
}

// Where the language comes from, which edition it selects, and which code the trace shows.
TEST_F(LauncherMainTest, LanguageComesFromTheRegistryBeforeTheLocale) {
  constexpr REGSAM kKeyRead = 0x20019;
  struct Case {
    const char* name;
    std::function<void()> arrange;
    LANGID user_lang_id;
    const char* language_line;  // Null when the locale decided.
    const char* code;           // As the trace prints it.
    WORD payload;
    std::vector<std::string> opens;  // Roots opened, in order.
  };
  const Case cases[] = {
      {"7 under HKCU",
       [] { SetLanguage(Fake().hkcu, DwordValue(7)); },
       0x0409,
       "Got the language from Current User.\n",
       "7",
       133,
       {"HKCU"}},
      {"9 under HKCU, 7 under HKLM",
       [] {
         SetLanguage(Fake().hkcu, DwordValue(9));
         SetLanguage(Fake().hklm, DwordValue(7));
       },
       0x0407,
       "Got the language from Current User.\n",
       "9",
       129,
       {"HKCU"}},
      {"1036 only under HKLM",
       [] { SetLanguage(Fake().hklm, DwordValue(1036)); },
       0x0407,
       "Got the language from Current User.\n",
       "1036",
       131,
       {"HKCU", "HKLM"}},
      {"12 under HKCU, German locale",
       [] { SetLanguage(Fake().hkcu, DwordValue(12)); },
       0x0407,
       "Got the language from Current User.\n",
       "12",
       129,
       {"HKCU"}},
      {"empty value under HKCU",
       [] { SetLanguage(Fake().hkcu, BinaryValue({})); },
       0x0407,
       "Got the language from Current User.\n",
       "0",
       129,
       {"HKCU"}},
      {"16 under HKLM, readable only",
       [] {
         SetLanguage(Fake().hklm, DwordValue(16));
         Fake().hklm[kKeyPath].granted = kKeyRead;
       },
       0x0407,
       "Got the language from Current User.\n",
       "16",
       132,
       {"HKCU", "HKLM"}},
      {"no setting, French (Canada) locale",
       [] {},
       0x0C0C,
       nullptr,
       "1036",
       131,
       {"HKCU", "HKLM", "HKLM", "HKLM"}},
      {"REG_QWORD under both, German locale",
       [] {
         SetLanguage(Fake().hkcu, QwordValue(7));
         SetLanguage(Fake().hklm, QwordValue(7));
       },
       0x0407,
       nullptr,
       "7",
       133,
       {"HKCU", "HKLM", "HKLM", "HKLM"}},
      {"HKLM readable only on the second call",
       [] {
         SetLanguage(Fake().hklm, DwordValue(10));
         Fake().hklm[kKeyPath].failing_opens = 1;
       },
       0x0407,
       "Got the language from Local Machine.\n",
       "10",
       134,
       {"HKCU", "HKLM", "HKLM"}},
      {"negative code from HKLM",
       [] {
         SetLanguage(Fake().hklm, DwordValue(0x80000000u));
         Fake().hklm[kKeyPath].failing_opens = 1;
       },
       0x0407,
       "Got the language from Local Machine.\n",
       "-2147483648",
       129,
       {"HKCU", "HKLM", "HKLM"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare();
    Fake().user_lang_id = c.user_lang_id;
    c.arrange();
    EXPECT_EQ(RunLauncher(), 0);

    std::vector<std::string> trace = {"Hello.\n", "Got the program's handle.\n"};
    if (c.language_line != nullptr) {
      trace.push_back(c.language_line);
    }
    trace.push_back("Found the resource with the " + std::string(c.code) + " language.\n");
    const std::vector<std::string>& output = Fake().debug_output;
    ASSERT_GE(output.size(), trace.size());
    EXPECT_EQ(std::vector<std::string>(output.begin(), output.begin() + trace.size()), trace);

    EXPECT_EQ(LogLines("FindResourceA("),
              (std::vector<std::string>{"FindResourceA(module, #" + std::to_string(c.payload) +
                                        ", \"BINARYDATA\")"}));
    EXPECT_EQ(LogLines("GetUserDefaultLangID(").size(), c.language_line == nullptr ? 1u : 0u);
    std::vector<std::string> opens;
    for (const RegCall& call : Fake().registry) {
      if (call.op == RegOp::kOpen) {
        opens.push_back(call.root == HKEY_CURRENT_USER ? "HKCU" : "HKLM");
      }
    }
    EXPECT_EQ(opens, c.opens);
    // The locale is asked only after every registry call.
    const std::vector<std::string> names = CallNames();
    for (size_t i = 0; i < names.size(); ++i) {
      if (names[i] == "GetUserDefaultLangID") {
        ASSERT_LT(i + 1, names.size());
        EXPECT_EQ(names[i + 1], "FindResourceA");
      }
    }
    ASSERT_EQ(Fake().writes.size(), 1u);
    EXPECT_EQ(Fake().writes[0].bytes, static_cast<const void*>(EditionBytes(c.payload).data()));
  }
}

TEST_F(LauncherMainTest, ArgumentsReachNeitherTheLookupNorTheChild) {
  SetLanguage(Fake().hkcu, DwordValue(16));
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(LogLines("GetModuleHandleA("), (std::vector<std::string>{"GetModuleHandleA(null)"}));
  EXPECT_EQ(LogLines("FindResourceA("),
            (std::vector<std::string>{"FindResourceA(module, #132, \"BINARYDATA\")"}));
  ASSERT_EQ(Fake().create_process.size(), 1u);
  EXPECT_EQ(Fake().create_process[0].command_line, "\"C:\\Temp\\patch.exe\"");
}

TEST_F(LauncherMainTest, EmptyEditionIsStillWrittenAndRun) {
  SetLanguage(Fake().hkcu, DwordValue(9));
  Fake().resources[0].size = 0;  // 129
  EXPECT_EQ(RunLauncher(), 0);
  EXPECT_EQ(LogLines("WriteStream("), (std::vector<std::string>{"WriteStream(1, 0, stream)"}));
  EXPECT_EQ(Fake().debug_output[6], "Size of data 0\n");
  EXPECT_EQ(Fake().log.back(), "RemoveFile(\"C:\\Temp\\patch.exe\")");
}

}  // namespace
