// The POSIX layer's event log, tried through the Win32 functions as a caller uses them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "store_root.h"

namespace {

// Each test has its own, empty store root.
class EventLogTest : public StoreRootTest {
 protected:
  std::vector<std::string> LogLines() const {
    std::ifstream log(root_ + "/eventlog/Application.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) lines.push_back(line);
    return lines;
  }
};

// The line a report gives, less its time, which the pattern below checks.
const std::regex kTimeField(R"(^\{"time":"\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z",)");

std::string WithoutTime(const std::string& line) {
  std::smatch match;
  if (!std::regex_search(line, match, kTimeField)) return "<no time field> " + line;
  return line.substr(match.length(0));
}

TEST_F(EventLogTest, EachEventIsOneJsonLineWithItsFields) {
  HANDLE source = RegisterEventSourceA(nullptr, "steward-test");
  ASSERT_NE(source, nullptr);
  const char* strings[] = {"plain", "quote \" backslash \\ newline \n tab \t cr \r bell \x07",
                           "utf-8 \xC3\xA9, not utf-8 \xFF \xC3( \xED\xA0\x80"};
  const BYTE data[] = {0x00, 0xAB};
  ASSERT_TRUE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 3, 1000, nullptr, 3, sizeof data, strings,
                           const_cast<BYTE*>(data)));
  ASSERT_TRUE(
      ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 7, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_TRUE(DeregisterEventSource(source));

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(WithoutTime(lines[0]),
            R"("source":"steward-test","type":"Error","category":3,"event_id":1000,"strings":[)"
            R"("plain","quote \" backslash \\ newline \n tab \t cr \r bell \u0007",)"
            "\"utf-8 \xC3\xA9, not utf-8 \\u00ff \\u00c3( \\u00ed\\u00a0\\u0080\"],"
            R"("data":"00ab"})");
  EXPECT_EQ(WithoutTime(lines[1]),
            R"("source":"steward-test","type":"Information","category":0,"event_id":7,)"
            R"("strings":[]})");
}

TEST_F(EventLogTest, TypesAreNamedAsWindowsNamesThem) {
  HANDLE source = RegisterEventSourceA("", "types");
  ASSERT_NE(source, nullptr);
  const std::pair<WORD, const char*> types[] = {
      {EVENTLOG_SUCCESS, "Success"},
      {EVENTLOG_ERROR_TYPE, "Error"},
      {EVENTLOG_WARNING_TYPE, "Warning"},
      {EVENTLOG_INFORMATION_TYPE, "Information"},
  };
  for (const auto& type : types) {
    ASSERT_TRUE(ReportEventA(source, type.first, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  }
  SetLastError(0);
  EXPECT_FALSE(ReportEventA(source, 0x0003, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_TRUE(DeregisterEventSource(source));

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), std::size(types));
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(std::string("\"type\":\"") + types[i].second + "\""), std::string::npos)
        << lines[i];
  }
}

TEST_F(EventLogTest, FailuresGiveWindowsCodes) {
  SetLastError(0);
  EXPECT_EQ(RegisterEventSourceA("\\\\elsewhere", "steward"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(RPC_S_SERVER_UNAVAILABLE));

  HANDLE source = RegisterEventSourceA(nullptr, "steward");
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(DeregisterEventSource(source));
  SetLastError(0);
  EXPECT_FALSE(DeregisterEventSource(source));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  SetLastError(0);
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));

  // A root that is a file cannot hold the log folder.
  const std::string file = root_ + "/file";
  std::ofstream(file) << "x";
  setenv("STEWARD_ROOT", file.c_str(), 1);
  source = RegisterEventSourceA(nullptr, "steward");
  ASSERT_NE(source, nullptr);
  SetLastError(0);
  EXPECT_FALSE(ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 0, 0, nullptr, nullptr));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(DeregisterEventSource(source));
}

TEST_F(EventLogTest, ConcurrentWritersProduceWholeLines) {
  constexpr int kThreads = 8;
  constexpr int kEvents = 200;
  // Long strings, so that interleaved writes could not go unnoticed.
  const std::string padding(3000, 'p');
  std::vector<std::thread> threads;
  for (int thread = 0; thread < kThreads; ++thread) {
    threads.emplace_back([thread, &padding] {
      HANDLE source = RegisterEventSourceA(nullptr, "concurrent");
      for (int i = 0; i < kEvents; ++i) {
        const std::string marker = "t" + std::to_string(thread) + "e" + std::to_string(i);
        const char* strings[] = {marker.c_str(), padding.c_str()};
        ReportEventA(source, EVENTLOG_INFORMATION_TYPE, 0, 1, nullptr, 2, 0, strings, nullptr);
      }
      DeregisterEventSource(source);
    });
  }
  for (std::thread& thread : threads) thread.join();

  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), static_cast<size_t>(kThreads * kEvents));
  // Every line is whole: its start, its own marker, and the full padding with the line's end.
  const std::string tail = "\",\"" + padding + "\"]}";
  const std::regex head(R"(^\{"time":"[^"]+","source":"concurrent","type":"Information",)"
                        R"("category":0,"event_id":1,"strings":\["(t\d+e\d+)$)");
  std::set<std::string> markers;
  for (const std::string& line : lines) {
    ASSERT_GT(line.size(), tail.size());
    ASSERT_EQ(line.substr(line.size() - tail.size()), tail) << line.substr(0, 200);
    const std::string start = line.substr(0, line.size() - tail.size());
    std::smatch match;
    ASSERT_TRUE(std::regex_match(start, match, head)) << start;
    markers.insert(match[1]);
  }
  EXPECT_EQ(markers.size(), static_cast<size_t>(kThreads * kEvents));
}

}  // namespace
