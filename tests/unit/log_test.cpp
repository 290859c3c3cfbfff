#include "core/log.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include "core/entry.h"
#include "platform/win32.h"

namespace {

// The system's own text for code, without its closing line break; empty when it has none.
std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
  std::string result(text == nullptr ? "" : text, length);
  if (text != nullptr) LocalFree(text);
  return result;
}

TEST(GetLastErrorText, GivesTheSystemTextAndTheCodeInHex) {
  for (DWORD code : {5u, 2u, 1073u}) {
    const std::string system = SystemText(code);
    ASSERT_GE(system.size(), 3u) << code;
    ASSERT_EQ(system.substr(system.size() - 2), "\r\n") << code;

    char buffer[kErrorTextSize];
    SetLastError(code);
    EXPECT_EQ(GetLastErrorText(buffer, sizeof buffer), buffer);
    char hex[16];
    std::snprintf(hex, sizeof hex, " (0x%x)", static_cast<unsigned>(code));
    EXPECT_EQ(std::string(buffer), system.substr(0, system.size() - 2) + hex);
  }
}

TEST(GetLastErrorText, NeedsRoomForTheTextPlusFourteenBytes) {
  const std::string system = SystemText(ERROR_ACCESS_DENIED);
  const int needed = static_cast<int>(system.size()) + 14;
  char buffer[kErrorTextSize];

  std::memset(buffer, 'x', sizeof buffer);
  SetLastError(ERROR_ACCESS_DENIED);
  EXPECT_STREQ(GetLastErrorText(buffer, needed - 1), "");

  SetLastError(ERROR_ACCESS_DENIED);
  GetLastErrorText(buffer, needed);
  EXPECT_EQ(std::string(buffer), system.substr(0, system.size() - 2) + " (0x5)");
}

TEST(GetLastErrorText, IsEmptyForACodeWithoutText) {
  char buffer[kErrorTextSize] = "stale";
  SetLastError(0x2A2A2A2Au);
  EXPECT_STREQ(GetLastErrorText(buffer, sizeof buffer), "");
}

TEST(LogEvent, PrintsToStandardOutputInConsoleMode) {
  consoleMode = 1;
  testing::internal::CaptureStdout();
  LogEvent("Cannot create Java VM.\n");
  LogEvent("plain");
  const std::string printed = testing::internal::GetCapturedStdout();
  consoleMode = 0;
  EXPECT_EQ(printed, "Cannot create Java VM.\n\nplain\n");
}

TEST(LogEvent, WritesNothingToStandardOutputAsAService) {
  std::strcpy(serviceName, "StewardUnitLog");
  const std::string longMessage(2 * kEventTextSize, 'm');
  testing::internal::CaptureStdout();
  LogEvent("SetServiceStatus");
  LogEvent(longMessage.c_str());  // Cut at the event buffer, never overrunning it.
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

#ifndef _WIN32
  // The stand-in event log is a file: the long text arrives cut to the buffer, terminator
  // included. (Wine's and Windows' logs are read by the end-to-end suite instead.)
  std::ifstream log(std::string(std::getenv("STEWARD_ROOT")) + "/eventlog/Application.log");
  std::string line;
  std::string last;
  while (std::getline(log, line)) last = line;
  const std::string prefix = "StewardUnitLog: ";
  const std::string cut = prefix + std::string(kEventTextSize - 1 - prefix.size(), 'm');
  EXPECT_NE(last.find("\"" + cut + "\""), std::string::npos);
#endif
}

}  // namespace
