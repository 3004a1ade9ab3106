// Staging and running the chosen edition: the staging path for every temporary directory length,
// the write, the child's start, the wait, the closes and the deletion.
#include "staging.h"

#include <gtest/gtest.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_windows.h"
#include "progress_trace.h"

namespace {

const BYTE kPayload[] = {'M', 'Z', 0x90, 0x00, 0x03, 0x00, 0x00, 0x00};
constexpr DWORD kPayloadSize = sizeof kPayload;

// A temporary directory of the given length, ending in a backslash.
std::string TempDirectoryOfLength(size_t length) {
  switch (length) {
    case 0:
      return "";
    case 1:
      return "\\";
    case 2:
      return "t\\";
    case 3:
      return "C:\\";
    default:
      return "C:\\" + std::string(length - 4, 't') + "\\";
  }
}

// A current directory that makes the full path of the bare name exactly this long.
std::string CurrentDirectoryForFullPath(size_t full_length) {
  return TempDirectoryOfLength(full_length - strlen("patch.exe"));
}

std::string Line(const std::string& text) {
  return text + "\n";
}

class StagingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Prepare();
  }

  // A fresh fake system, staging buffer and trace, for each case of a table.
  void Prepare() {
    ResetFake();
    SetTempDirectory("C:\\Temp\\");
    // Exactly the 260 bytes of a staging path on the heap: any byte beyond is reported.
    staging_storage_.reset(new char[kStagingPathSize]);
    memset(staging_storage_.get(), 'Z', kStagingPathSize);
    trace_.reset(new ProgressTrace);
    StartTrace(trace_.get());
  }

  char (&StagingPath())[kStagingPathSize] {
    return *reinterpret_cast<char(*)[kStagingPathSize]>(staging_storage_.get());
  }

  bool Stage() {
    return StagePayload(kPayload, kPayloadSize, StagingPath(), trace_.get());
  }

  void StageAndRun() {
    ASSERT_TRUE(Stage());
    RunPayload(StagingPath(), trace_.get());
  }

  std::string StagedPath() {
    const size_t length = strnlen(StagingPath(), kStagingPathSize);
    EXPECT_LT(length, kStagingPathSize) << "staging path not terminated";
    return std::string(StagingPath(), length);
  }

  std::unique_ptr<char[]> staging_storage_;
  std::unique_ptr<ProgressTrace> trace_;
};

// The whole range of lengths GetTempPathA can report, under both runtimes' bounded print.
TEST_F(StagingTest, EveryTempPathLengthStagesAndStartsSafely) {
  for (const FormatRuntime runtime : {FormatRuntime::kC99, FormatRuntime::kMsvcrt}) {
    std::vector<DWORD> lengths;
    for (DWORD length = 0; length <= 300; ++length) {
      lengths.push_back(length);
    }
    // Sizes far beyond any path: the comparison with the limit must be unsigned.
    lengths.insert(lengths.end(), {0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu});
    for (const DWORD reported : lengths) {
      SCOPED_TRACE((runtime == FormatRuntime::kC99 ? "C99, length " : "msvcrt, length ") +
                   std::to_string(reported));
      Prepare();
      Fake().format_runtime = runtime;
      // 0 is a failure and 260 or more a size needed: nothing is stored then.
      const bool stores = reported >= 1 && reported < MAX_PATH;
      const std::string directory = stores ? TempDirectoryOfLength(reported) : "";
      Fake().temp_path_result = reported;
      Fake().temp_path_text = directory;
      Fake().temp_path_stores = stores;

      ASSERT_TRUE(Stage());
      const bool in_temp = reported < 250;
      const std::string expected_path = in_temp ? directory + "patch.exe" : "patch.exe";
      ASSERT_EQ(StagedPath(), expected_path);
      RunPayload(StagingPath(), trace_.get());

      std::vector<std::string> trace = {
          Line("Get temp path returned " + directory),
          Line("Actual buffer size is " + std::to_string(reported) + " compared to max path 250"),
          in_temp ? Line("Got the final path with [" + expected_path + "]")
                  : Line("Can't execute from this path, too long"),
          Line("Preparing to write buffer size of " + std::to_string(kPayloadSize)),
          Line("Starting execution of file [" + expected_path + "]"),
      };
      const std::string full_path = FakeFullPath(expected_path);
      std::vector<std::string> calls = {
          "GetTempPathA(260)",
          "OpenStream(\"" + expected_path + "\", \"wb\")",
          "WriteStream(1, " + std::to_string(kPayloadSize) + ", stream)",
          "CloseStream(stream)",
          "GetFullPathNameA(\"" + expected_path + "\", 260)",
      };
      if (reported == 249) {
        // A 258-character path: its quoted form needs 261 bytes.
        trace.push_back(Line("Not starting the file, its quoted path does not fit"));
      } else {
        const std::vector<std::string> started = {
            "CreateProcessA(\"" + full_path + "\")",
            "WaitForSingleObject(process, INFINITE)",
            "CloseHandle(process)",
            "CloseHandle(thread)",
        };
        calls.insert(calls.end(), started.begin(), started.end());
        ASSERT_EQ(Fake().create_process.size(), 1u);
        EXPECT_EQ(Fake().create_process[0].command_line.compare(0, 4, "\"C:\\"), 0)
            << "started by a name that is not a full path";
      }
      calls.push_back("RemoveFile(\"" + expected_path + "\")");
      EXPECT_EQ(Fake().debug_output, trace);
      EXPECT_EQ(Fake().log, calls);
      EXPECT_TRUE(Fake().files.empty()) << "staged file left behind";
      EXPECT_TRUE(Fake().faults.empty()) << Fake().faults.front();
      if (HasFailure()) {
        return;
      }
    }
  }
}

// A buffer whose text is longer than reported, or not terminated at all, gives the bare name and
// is never read or written past its end.
TEST_F(StagingTest, TempPathBufferNotMatchingTheReportedLengthGivesTheBareName) {
  struct Case {
    const char* name;
    DWORD reported;
    bool junk;
    size_t stored_length;
  };
  const Case cases[] = {
      {"failure, buffer overwritten", 0, true, 0},
      {"size needed, buffer overwritten", 300, true, 0},
      {"short length, long text", 10, false, 255},
      {"length 249, text of 252", 249, false, 252},
      {"length 100, text of 251", 100, false, 251},
  };
  for (const FormatRuntime runtime : {FormatRuntime::kC99, FormatRuntime::kMsvcrt}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      Prepare();
      Fake().format_runtime = runtime;
      Fake().temp_path_result = c.reported;
      Fake().temp_path_fills_junk = c.junk;
      Fake().temp_path_stores = !c.junk;
      Fake().temp_path_text = TempDirectoryOfLength(c.stored_length);
      StageAndRun();
      EXPECT_EQ(StagedPath(), "patch.exe");
      EXPECT_EQ(Fake().debug_output.at(2), "Can't execute from this path, too long\n");
      EXPECT_EQ(LogLines("CreateProcessA("),
                (std::vector<std::string>{"CreateProcessA(\"C:\\work\\patch.exe\")"}));
      EXPECT_EQ(Fake().log.back(), "RemoveFile(\"patch.exe\")");
      EXPECT_TRUE(Fake().faults.empty()) << Fake().faults.front();
    }
  }
}

TEST_F(StagingTest, PayloadIsWrittenOnceStraightFromTheResource) {
  StageAndRun();
  ASSERT_EQ(Fake().writes.size(), 1u);
  EXPECT_EQ(Fake().writes[0].bytes, static_cast<const void*>(kPayload));
  EXPECT_EQ(Fake().writes[0].size, 1u);
  EXPECT_EQ(Fake().writes[0].count, kPayloadSize);
  EXPECT_EQ(Fake().writes[0].stream, FakeStreamHandle());
  EXPECT_EQ(LogLines("OpenStream("),
            (std::vector<std::string>{"OpenStream(\"C:\\Temp\\patch.exe\", \"wb\")"}));
}

TEST_F(StagingTest, StreamIsClosedBeforeTheChildStarts) {
  StageAndRun();
  const std::vector<std::string> names = CallNames();
  const std::vector<std::string> expected = {
      "GetTempPathA",   "OpenStream",          "WriteStream", "CloseStream", "GetFullPathNameA",
      "CreateProcessA", "WaitForSingleObject", "CloseHandle", "CloseHandle", "RemoveFile"};
  EXPECT_EQ(names, expected);
}

TEST_F(StagingTest, ChildGetsOnlyItsQuotedPathAndAZeroedStartupRecord) {
  SetTempDirectory("C:\\Documents and Settings\\Ann\\Local Settings\\Temp\\");
  StageAndRun();
  ASSERT_EQ(Fake().create_process.size(), 1u);
  const CreateProcessCall& call = Fake().create_process[0];
  EXPECT_TRUE(call.application_name_null);
  EXPECT_EQ(call.command_line,
            "\"C:\\Documents and Settings\\Ann\\Local Settings\\Temp\\patch.exe\"");
  EXPECT_TRUE(call.process_attributes_null);
  EXPECT_TRUE(call.thread_attributes_null);
  EXPECT_EQ(call.inherit_handles, FALSE);
  EXPECT_EQ(call.creation_flags, 0u);
  EXPECT_TRUE(call.environment_null);
  EXPECT_TRUE(call.current_directory_null);
  ASSERT_FALSE(call.startup_info_null);
  const STARTUPINFOA& s = call.startup_info;
  EXPECT_EQ(s.cb, sizeof(STARTUPINFOA));
  EXPECT_EQ(s.lpReserved, nullptr);
  EXPECT_EQ(s.lpDesktop, nullptr);
  EXPECT_EQ(s.lpTitle, nullptr);
  EXPECT_EQ(s.dwX | s.dwY | s.dwXSize | s.dwYSize | s.dwXCountChars | s.dwYCountChars |
                s.dwFillAttribute | s.dwFlags,
            0u);
  EXPECT_EQ(s.wShowWindow, 0);
  EXPECT_EQ(s.cbReserved2, 0);
  EXPECT_EQ(s.lpReserved2, nullptr);
  EXPECT_EQ(s.hStdInput, nullptr);
  EXPECT_EQ(s.hStdOutput, nullptr);
  EXPECT_EQ(s.hStdError, nullptr);
  ASSERT_FALSE(call.process_information_null);
  EXPECT_EQ(call.process_information_passed.hProcess, nullptr);
  EXPECT_EQ(call.process_information_passed.hThread, nullptr);
}

// What follows the start when the start, the wait or the write goes wrong.
TEST_F(StagingTest, FailuresAfterTheWriteStillEndWithTheDeletion) {
  struct Case {
    const char* name;
    bool create_fails;
    DWORD wait_result;
    size_t short_write;
    std::vector<std::string> after_start;
  };
  const Case cases[] = {
      {"start fails",
       true,
       WAIT_OBJECT_0,
       SIZE_MAX,
       {"WaitForSingleObject(null, INFINITE)", "CloseHandle(null)", "CloseHandle(null)"}},
      {"wait fails",
       false,
       WAIT_FAILED,
       SIZE_MAX,
       {"WaitForSingleObject(process, INFINITE)", "CloseHandle(process)", "CloseHandle(thread)"}},
      {"short write",
       false,
       WAIT_OBJECT_0,
       3,
       {"WaitForSingleObject(process, INFINITE)", "CloseHandle(process)", "CloseHandle(thread)"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare();
    Fake().create_process_fails = c.create_fails;
    Fake().wait_result = c.wait_result;
    Fake().short_write_count = c.short_write;
    StageAndRun();
    std::vector<std::string> expected = {"CreateProcessA(\"C:\\Temp\\patch.exe\")"};
    expected.insert(expected.end(), c.after_start.begin(), c.after_start.end());
    expected.push_back("RemoveFile(\"C:\\Temp\\patch.exe\")");
    const std::vector<std::string>& log = Fake().log;
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(log.end() - expected.size(), log.end()), expected);
    EXPECT_TRUE(Fake().files.empty());
    EXPECT_EQ(Fake().debug_output.back(), "Starting execution of file [C:\\Temp\\patch.exe]\n");
  }
}

TEST_F(StagingTest, FailedOpenWritesStartsAndDeletesNothing) {
  Fake().open_fails = true;
  EXPECT_FALSE(Stage());
  EXPECT_EQ(Fake().log, (std::vector<std::string>{"GetTempPathA(260)",
                                                  "OpenStream(\"C:\\Temp\\patch.exe\", \"wb\")"}));
  EXPECT_TRUE(Fake().writes.empty());
}

// The child is started only when its full path is known and fits, quoted, in the command line.
TEST_F(StagingTest, ChildStartsOnlyFromAFullPathThatFitsQuoted) {
  struct Case {
    const char* name;
    bool temp_directory_too_long;  // Else GetTempPathA fails: both give the bare name.
    size_t full_length;            // Length of the full path the current directory gives.
    bool override_result;
    DWORD full_path_result;
    const char* refusal;  // Null when the child starts.
  };
  const char* const kUnknown = "Not starting the file, its full path is not known\n";
  const char* const kTooLong = "Not starting the file, its quoted path does not fit\n";
  const Case cases[] = {
      {"full path fails", true, 20, true, 0, kUnknown},
      {"full path needs 260 bytes", true, 20, true, 260, kUnknown},
      {"full path needs 300 bytes", false, 20, true, 300, kUnknown},
      {"full path of 257 characters", true, 257, false, 0, nullptr},
      {"full path of 258 characters", false, 258, false, 0, kTooLong},
      {"full path of 259 characters", true, 259, false, 0, kTooLong},
      {"full path of 260 characters", false, 260, false, 0, kUnknown},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Prepare();
    if (c.temp_directory_too_long) {
      SetTempDirectory(TempDirectoryOfLength(255));
    } else {
      SetTempDirectory("");
    }
    Fake().current_directory = CurrentDirectoryForFullPath(c.full_length);
    Fake().full_path_override = c.override_result;
    Fake().full_path_result = c.full_path_result;
    StageAndRun();
    ASSERT_EQ(StagedPath(), "patch.exe");
    EXPECT_EQ(LogLines("GetFullPathNameA("),
              (std::vector<std::string>{"GetFullPathNameA(\"patch.exe\", 260)"}));
    if (c.refusal == nullptr) {
      const std::string full = Fake().current_directory + "patch.exe";
      ASSERT_EQ(full.size(), 257u);
      EXPECT_EQ(LogLines("CreateProcessA("),
                (std::vector<std::string>{"CreateProcessA(\"" + full + "\")"}));
      EXPECT_EQ(Fake().debug_output.back(), "Starting execution of file [patch.exe]\n");
    } else {
      EXPECT_TRUE(LogLines("CreateProcessA(").empty());
      EXPECT_TRUE(LogLines("WaitForSingleObject(").empty());
      EXPECT_TRUE(LogLines("CloseHandle(").empty());
      EXPECT_EQ(Fake().debug_output.back(), c.refusal);
    }
    EXPECT_EQ(Fake().log.back(), "RemoveFile(\"patch.exe\")");
    EXPECT_TRUE(Fake().files.empty());
    EXPECT_TRUE(Fake().faults.empty()) << Fake().faults.front();
  }
}

}  // namespace
