// The product's language setting: which keys are opened and read, how, and what is read.
#include "language_setting.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_windows.h"

namespace {

// The product's key, written out here rather than taken from the launcher's header.
const char kExpectedKeyPath[] =
    "Software\\Velmora\\Orchardvale\\{5A0C3E71-92B4-4F6D-8E27-C1D94B60A3F8}\\";

enum class Keys { kValue, kKeyWithoutValue, kNoKey };

constexpr LanguageCode kUserValue = 16;
constexpr LanguageCode kMachineValue = 1036;

void Install(std::map<std::string, FakeKey>& root, Keys setup, LanguageCode value) {
  if (setup == Keys::kNoKey) {
    return;
  }
  FakeKey key;
  // Neighbours of the value that must not be taken for it.
  key.values["Version"] = DwordValue(3);
  key.values["Language2"] = DwordValue(7);
  if (setup == Keys::kValue) {
    key.values["Language"] = DwordValue(value);
  }
  root[kExpectedKeyPath] = key;
}

// The registry calls as "open HKCU", "read", "close", with " fails" after a failed one.
std::vector<std::string> RegistrySequence() {
  std::vector<std::string> sequence;
  for (const RegCall& call : Fake().registry) {
    const std::string fails = call.status == ERROR_SUCCESS ? "" : " fails";
    switch (call.op) {
      case RegOp::kOpen:
        sequence.push_back(std::string("open ") +
                           (call.root == HKEY_CURRENT_USER    ? "HKCU"
                            : call.root == HKEY_LOCAL_MACHINE ? "HKLM"
                                                              : "other") +
                           fails);
        break;
      case RegOp::kRead:
        sequence.push_back("read" + fails);
        break;
      case RegOp::kClose:
        sequence.push_back("close" + fails);
        break;
    }
  }
  return sequence;
}

// What every registry call of the lookup must look like: the product's key opened read-only in
// the process's own view, one read of exactly 4 bytes with no type asked of the key just
// opened, and that key closed before anything else happens.
void ExpectWellFormedRegistryCalls() {
  HKEY open_key = nullptr;
  bool read_done = false;
  for (size_t i = 0; i < Fake().registry.size(); ++i) {
    const RegCall& call = Fake().registry[i];
    SCOPED_TRACE("registry call " + std::to_string(i));
    switch (call.op) {
      case RegOp::kOpen:
        EXPECT_EQ(open_key, nullptr) << "opened while a key is still open";
        EXPECT_TRUE(call.root == HKEY_CURRENT_USER || call.root == HKEY_LOCAL_MACHINE);
        EXPECT_EQ(call.path, kExpectedKeyPath);
        EXPECT_EQ(call.options, 0u);
        EXPECT_EQ(call.access, KEY_QUERY_VALUE);
        open_key = call.key;
        read_done = false;
        break;
      case RegOp::kRead:
        EXPECT_NE(open_key, nullptr);
        EXPECT_EQ(call.key, open_key);
        EXPECT_FALSE(read_done) << "second read of one key";
        EXPECT_EQ(call.value_name, "Language");
        EXPECT_TRUE(call.reserved_null);
        EXPECT_TRUE(call.type_null);
        EXPECT_FALSE(call.data_null);
        EXPECT_FALSE(call.size_null);
        EXPECT_EQ(call.size_offered, 4u);
        read_done = true;
        break;
      case RegOp::kClose:
        EXPECT_NE(open_key, nullptr);
        EXPECT_EQ(call.key, open_key);
        EXPECT_TRUE(read_done) << "closed without its read";
        open_key = nullptr;
        break;
    }
  }
  EXPECT_EQ(open_key, nullptr) << "a key is left open";
  EXPECT_TRUE(Fake().open_keys.empty());
  EXPECT_TRUE(Fake().faults.empty()) << Fake().faults.front();
}

class ReadLanguageSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
  }
};

TEST_F(ReadLanguageSettingTest, EveryCaseOfKeysAndValues) {
  struct Case {
    const char* name;
    bool root_is_user;
    Keys user;
    Keys machine;
    std::vector<std::string> sequence;
    int result;
    LanguageCode code;  // Checked after 0 only.
  };
  const Case cases[] = {
      {"HKCU: value under HKCU",
       true,
       Keys::kValue,
       Keys::kValue,
       {"open HKCU", "read", "close"},
       0,
       kUserValue},
      {"HKCU: key without value, value under HKLM",
       true,
       Keys::kKeyWithoutValue,
       Keys::kValue,
       {"open HKCU", "read fails", "close", "open HKLM", "read", "close"},
       0,
       kMachineValue},
      {"HKCU: keys without value under both",
       true,
       Keys::kKeyWithoutValue,
       Keys::kKeyWithoutValue,
       {"open HKCU", "read fails", "close", "open HKLM", "read fails", "close"},
       -1,
       0},
      {"HKCU: key without value, no HKLM key",
       true,
       Keys::kKeyWithoutValue,
       Keys::kNoKey,
       {"open HKCU", "read fails", "close", "open HKLM fails"},
       -1,
       0},
      {"HKCU: no HKCU key, value under HKLM",
       true,
       Keys::kNoKey,
       Keys::kValue,
       {"open HKCU fails", "open HKLM", "read", "close"},
       0,
       kMachineValue},
      {"HKCU: no HKCU key, HKLM key without value",
       true,
       Keys::kNoKey,
       Keys::kKeyWithoutValue,
       {"open HKCU fails", "open HKLM", "read fails", "close", "open HKLM", "read fails", "close"},
       -1,
       0},
      {"HKCU: no keys",
       true,
       Keys::kNoKey,
       Keys::kNoKey,
       {"open HKCU fails", "open HKLM fails"},
       -1,
       0},
      {"HKLM: value under HKLM",
       false,
       Keys::kValue,
       Keys::kValue,
       {"open HKLM", "read", "close"},
       0,
       kMachineValue},
      {"HKLM: key without value",
       false,
       Keys::kValue,
       Keys::kKeyWithoutValue,
       {"open HKLM", "read fails", "close", "open HKLM", "read fails", "close"},
       -1,
       0},
      {"HKLM: no key",
       false,
       Keys::kValue,
       Keys::kNoKey,
       {"open HKLM fails", "open HKLM fails"},
       -1,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFake();
    Install(Fake().hkcu, c.user, kUserValue);
    Install(Fake().hklm, c.machine, kMachineValue);
    LanguageCode code = 0xDEADBEEF;
    const int result =
        ReadLanguageSetting(c.root_is_user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE, &code);
    EXPECT_EQ(result, c.result);
    if (c.result == 0) {
      EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(RegistrySequence(), c.sequence);
    ExpectWellFormedRegistryCalls();
  }
}

// The value's raw bytes fill the code from its lowest byte; the type is never looked at, and a
// value longer than 4 bytes is no value.
TEST_F(ReadLanguageSettingTest, ValueOfEveryTypeIsTakenAsItsBytes) {
  struct Case {
    const char* name;
    FakeValue value;
    int result;
    LanguageCode code;
  };
  const Case cases[] = {
      {"REG_DWORD 7", DwordValue(7), 0, 7},
      {"REG_DWORD 1031", DwordValue(1031), 0, 1031},
      {"REG_DWORD 0x80000000", DwordValue(0x80000000u), 0, 0x80000000u},
      {"REG_BINARY of no bytes", BinaryValue({}), 0, 0},
      {"REG_BINARY 0A", BinaryValue({0x0A}), 0, 10},
      {"REG_BINARY 0C 04", BinaryValue({0x0C, 0x04}), 0, 1036},
      {"REG_BINARY 01 02 03", BinaryValue({0x01, 0x02, 0x03}), 0, 0x030201},
      {"REG_BINARY 01 02 03 04", BinaryValue({0x01, 0x02, 0x03, 0x04}), 0, 0x04030201},
      {"REG_BINARY of 5 bytes", BinaryValue({0x07, 0, 0, 0, 0}), -1, 0},
      {"REG_QWORD 7", QwordValue(7), -1, 0},
      {"REG_SZ \"7\"", StringValue("7"), 0, 0x37},
      {"REG_SZ \"\"", StringValue(""), 0, 0},
      {"REG_NONE 10", FakeValue{REG_NONE, {0x0A}}, 0, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ResetFake();
    FakeKey key;
    key.values["Language"] = c.value;
    Fake().hkcu[kExpectedKeyPath] = key;
    LanguageCode code = 0xFFFFFFFF;  // Bytes the value doesn't cover must read 0.
    EXPECT_EQ(ReadLanguageSetting(HKEY_CURRENT_USER, &code), c.result);
    if (c.result == 0) {
      EXPECT_EQ(code, c.code);
      EXPECT_EQ(RegistrySequence(), (std::vector<std::string>{"open HKCU", "read", "close"}));
    } else {
      // Never more room offered: the retry goes to HKLM, which has no key.
      EXPECT_EQ(RegistrySequence(),
                (std::vector<std::string>{"open HKCU", "read fails", "close", "open HKLM fails"}));
    }
    ExpectWellFormedRegistryCalls();
  }
}

TEST_F(ReadLanguageSettingTest, QwordUnderUserLeavesTheChoiceToMachine) {
  FakeKey user;
  user.values["Language"] = QwordValue(7);
  Fake().hkcu[kExpectedKeyPath] = user;
  FakeKey machine;
  machine.values["Language"] = DwordValue(16);
  Fake().hklm[kExpectedKeyPath] = machine;
  LanguageCode code = 0;
  EXPECT_EQ(ReadLanguageSetting(HKEY_CURRENT_USER, &code), 0);
  EXPECT_EQ(code, 16u);
  ExpectWellFormedRegistryCalls();
}

// A failed read may leave anything in the offered bytes; a shorter value read next must not
// show them.
TEST_F(ReadLanguageSettingTest, CodeIsClearedAgainBeforeTheSecondRead) {
  Fake().scribble_on_more_data = true;
  FakeKey user;
  user.values["Language"] = BinaryValue({1, 2, 3, 4, 5});
  Fake().hkcu[kExpectedKeyPath] = user;
  FakeKey machine;
  machine.values["Language"] = BinaryValue({0x0A});
  Fake().hklm[kExpectedKeyPath] = machine;
  LanguageCode code = 0;
  EXPECT_EQ(ReadLanguageSetting(HKEY_CURRENT_USER, &code), 0);
  EXPECT_EQ(code, 10u);
  EXPECT_EQ(RegistrySequence(), (std::vector<std::string>{"open HKCU", "read fails", "close",
                                                          "open HKLM", "read", "close"}));
}

// A standard user may read the machine's key but not hold every right on it.
TEST_F(ReadLanguageSettingTest, MachineKeyReadableWithoutFullAccessIsRead) {
  constexpr REGSAM kKeyRead = 0x20019;
  FakeKey machine;
  machine.granted = kKeyRead;
  machine.values["Language"] = DwordValue(7);
  Fake().hklm[kExpectedKeyPath] = machine;

  // The key as the fake holds it: full access is refused, reading is not.
  HKEY probe = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExpectedKeyPath, 0, KEY_ALL_ACCESS, &probe),
            ERROR_ACCESS_DENIED);
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, kExpectedKeyPath, 0, KEY_QUERY_VALUE, &probe),
            ERROR_SUCCESS);
  RegCloseKey(probe);
  ResetFake();
  Fake().hklm[kExpectedKeyPath] = machine;

  LanguageCode code = 0;
  EXPECT_EQ(ReadLanguageSetting(HKEY_CURRENT_USER, &code), 0);
  EXPECT_EQ(code, 7u);
  EXPECT_EQ(ReadLanguageSetting(HKEY_LOCAL_MACHINE, &code), 0);
  EXPECT_EQ(code, 7u);
  ExpectWellFormedRegistryCalls();
}

}  // namespace
