// The progress trace's fixed area and the bounded formatting its lines go through.
#include "progress_trace.h"

#include <gtest/gtest.h>
#include <stddef.h>
#include <string.h>

#include <memory>
#include <string>
#include <vector>

#include "bounded_format.h"
#include "fake_windows.h"
#include "launcher_main.h"

namespace {

constexpr unsigned char kUntouched = 0xA5;

class ProgressTraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetFake();
    // Every byte of the record marked, so that writes past the text's area show.
    trace_.reset(new ProgressTrace);
    memset(static_cast<void*>(trace_.get()), kUntouched, sizeof(ProgressTrace));
    StartTrace(trace_.get());
  }

  std::string Text() const {
    return std::string(trace_->text, strnlen(trace_->text, kTraceAreaSize));
  }

  // The bytes between the end of the text's area and the length field.
  bool TailUntouched() const {
    const unsigned char* raw = reinterpret_cast<const unsigned char*>(trace_.get());
    for (size_t i = offsetof(ProgressTrace, text) + kTraceAreaSize;
         i < offsetof(ProgressTrace, length); ++i) {
      if (raw[i] != kUntouched) {
        return false;
      }
    }
    return true;
  }

  std::unique_ptr<ProgressTrace> trace_;
};

TEST_F(ProgressTraceTest, LinesAreAppendedEachWithALineFeedAndPassedOnAsAppended) {
  EXPECT_EQ(trace_->length, 0u);
  EXPECT_EQ(Text(), "");
  AppendTraceLine(trace_.get(), "Hello.");
  AppendTraceLine(trace_.get(), "");
  AppendTraceFormat(trace_.get(), "Size of data %u", 4294967295u);
  AppendTraceFormat(trace_.get(), "Found the resource with the %d language.", -2147483647 - 1);
  const std::string expected =
      "Hello.\n\nSize of data 4294967295\nFound the resource with the -2147483648 language.\n";
  EXPECT_EQ(Text(), expected);
  EXPECT_EQ(trace_->length, expected.size());
  EXPECT_EQ(trace_->text[trace_->length], '\0');
  EXPECT_EQ(Fake().debug_output,
            (std::vector<std::string>{"Hello.\n", "\n", "Size of data 4294967295\n",
                                      "Found the resource with the -2147483648 language.\n"}));
}

// The area holds its text, the line feeds and one terminator, to the last byte; a line that
// does not fit is dropped whole and not passed on.
TEST_F(ProgressTraceTest, LineThatDoesNotFitIsDroppedWhole) {
  const std::string long_line(999, 'x');
  for (int i = 0; i < 4; ++i) {
    AppendTraceLine(trace_.get(), long_line.c_str());
  }
  ASSERT_EQ(trace_->length, 4000u);
  // 100 bytes left: 99 characters would need 101.
  AppendTraceLine(trace_.get(), std::string(99, 'a').c_str());
  EXPECT_EQ(trace_->length, 4000u);
  EXPECT_EQ(trace_->text[4000], '\0');
  EXPECT_EQ(Fake().debug_output.size(), 4u);

  AppendTraceLine(trace_.get(), std::string(98, 'b').c_str());
  EXPECT_EQ(trace_->length, 4099u);
  EXPECT_EQ(trace_->text[4098], '\n');
  EXPECT_EQ(trace_->text[4099], '\0');
  EXPECT_EQ(Fake().debug_output.back(), std::string(98, 'b') + "\n");

  // Full: not even an empty line fits.
  AppendTraceLine(trace_.get(), "");
  AppendTraceFormat(trace_.get(), "%d", 1);
  EXPECT_EQ(trace_->length, 4099u);
  EXPECT_EQ(Fake().debug_output.size(), 5u);
  std::string expected;
  for (int i = 0; i < 4; ++i) {
    expected += long_line + "\n";
  }
  expected += std::string(98, 'b') + "\n";
  EXPECT_EQ(Text(), expected);
  EXPECT_TRUE(TailUntouched());
}

// A formatted line is cut to its 1,023 characters, whichever runtime formats it.
TEST_F(ProgressTraceTest, FormattedLineIsCutToTheLineBuffer) {
  for (const FormatRuntime runtime : {FormatRuntime::kC99, FormatRuntime::kMsvcrt}) {
    for (const size_t length : {1022u, 1023u, 1024u, 1025u, 3000u}) {
      SCOPED_TRACE(std::to_string(length) +
                   (runtime == FormatRuntime::kC99 ? " characters, C99" : " characters, msvcrt"));
      SetUp();
      Fake().format_runtime = runtime;
      const std::string text(length, 'q');
      AppendTraceFormat(trace_.get(), "%s", text.c_str());
      const std::string expected = text.substr(0, kTraceLineSize - 1) + "\n";
      EXPECT_EQ(Text(), expected);
      EXPECT_EQ(Fake().debug_output, std::vector<std::string>{expected});
    }
  }
}

// FormatText cuts and terminates within exactly the buffer it is given.
TEST(FormatText, CutsAndTerminatesWithinTheBuffer) {
  for (const FormatRuntime runtime : {FormatRuntime::kC99, FormatRuntime::kMsvcrt}) {
    for (size_t size = 1; size <= 12; ++size) {
      for (size_t length = 0; length <= 14; ++length) {
        SCOPED_TRACE("size " + std::to_string(size) + ", length " + std::to_string(length) +
                     (runtime == FormatRuntime::kC99 ? ", C99" : ", msvcrt"));
        ResetFake();
        Fake().format_runtime = runtime;
        std::unique_ptr<char[]> buffer(new char[size]);
        memset(buffer.get(), 'Z', size);
        const std::string text(length, 'w');
        FormatText(buffer.get(), size, "%c%s%c", '"', text.c_str(), '"');
        const size_t stored = strnlen(buffer.get(), size);
        ASSERT_LT(stored, size) << "not terminated";
        EXPECT_EQ(std::string(buffer.get(), stored), ("\"" + text + "\"").substr(0, size - 1));
      }
    }
  }
}

// The longest trace a run can compose: a 249-character temporary directory, the language from
// Local Machine, an 11-character code and a 10-digit size. Every line must reach the output.
TEST(LongestTrace, FitsTheTraceArea) {
  ResetFake();
  static const BYTE kBytes[] = {'M', 'Z'};
  // The size is only reported; the fakes never read past the pointer.
  Fake().resources.push_back(
      FakeResource{FakeModuleHandle(), 129, "BINARYDATA", kBytes, 4294967295u});
  const std::string directory = "C:\\" + std::string(245, 'd') + "\\";
  ASSERT_EQ(directory.size(), 249u);
  SetTempDirectory(directory);
  FakeKey machine;
  machine.values["Language"] = DwordValue(0x80000000u);
  machine.failing_opens = 1;  // The first call's read under HKLM fails, the second call's not.
  Fake().hklm["Software\\Velmora\\Orchardvale\\{5A0C3E71-92B4-4F6D-8E27-C1D94B60A3F8}\\"] = machine;

  char command_line[] = "";
  EXPECT_EQ(LauncherMain(nullptr, nullptr, command_line, 0), 0);

  const std::string path = directory + "patch.exe";
  const std::vector<std::string> expected = {
      "Hello.\n",
      "Got the program's handle.\n",
      "Got the language from Local Machine.\n",
      "Found the resource with the -2147483648 language.\n",
      "Loaded the resource successfully.\n",
      "Got the resource data pointer.\n",
      "Size of data 4294967295\n",
      "Get temp path returned " + directory + "\n",
      "Actual buffer size is 249 compared to max path 250\n",
      "Got the final path with [" + path + "]\n",
      "Preparing to write buffer size of 4294967295\n",
      "Starting execution of file [" + path + "]\n",
      "Not starting the file, its quoted path does not fit\n",
  };
  EXPECT_EQ(Fake().debug_output, expected);
  size_t total = 1;  // The terminator.
  for (const std::string& line : expected) {
    total += line.size();
  }
  EXPECT_LE(total, kTraceAreaSize);
  // Nothing started, and the file written there is removed.
  EXPECT_TRUE(LogLines("CreateProcessA(").empty());
  EXPECT_EQ(Fake().log.back(), "RemoveFile(\"" + path + "\")");
  EXPECT_TRUE(Fake().files.empty());
}

}  // namespace
