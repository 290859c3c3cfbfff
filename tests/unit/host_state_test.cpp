#include "host/host_state.h"

#include <gtest/gtest.h>

#include "core/entry.h"

namespace {

// Puts a run's state in place as the host does when a run starts.
void StartRun() {
  std::lock_guard<std::mutex> lock(hostMutex);
  SplitParameters("-Xmx64m\t-Dx=1", javaOptions);
  SplitParameters("a\tb", programArguments);
  hostStopped = false;
  stopEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
}

void EndRun() {
  std::lock_guard<std::mutex> lock(hostMutex);
  CloseHandle(stopEvent);
  stopEvent = nullptr;
}

TEST(StopHost, ReleasesTheListsOnceAndSignalsTheRun) {
  StartRun();
  HANDLE event = stopEvent;
  StopHost();
  EXPECT_EQ(javaOptions.count, 0u);
  EXPECT_EQ(programArguments.entries, nullptr);
  EXPECT_TRUE(hostStopped);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);

  StopHost();  // Nothing left to release; the event stays signalled.
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EndRun();
  StopHost();  // After the run has closed the event there is nothing to signal.
  EXPECT_EQ(stopEvent, nullptr);
}

TEST(ConsoleCtrlHandler, EndsTheRunByTheEventAndTheMode) {
  struct Case {
    DWORD event;
    int console;
    BOOL handled;
    bool stops;
  };
  const Case cases[] = {
      {CTRL_C_EVENT, 1, TRUE, true},
      {CTRL_C_EVENT, 0, TRUE, false},
      {CTRL_BREAK_EVENT, 1, FALSE, false},
      {CTRL_BREAK_EVENT, 0, FALSE, false},
      {CTRL_CLOSE_EVENT, 1, TRUE, true},
      {CTRL_CLOSE_EVENT, 0, TRUE, false},
      {3, 1, FALSE, false},
      {4, 0, FALSE, false},
      {CTRL_LOGOFF_EVENT, 1, TRUE, true},
      {CTRL_LOGOFF_EVENT, 0, TRUE, false},
      {CTRL_SHUTDOWN_EVENT, 1, TRUE, true},
      {CTRL_SHUTDOWN_EVENT, 0, TRUE, true},
      {7, 1, FALSE, false},
  };
  for (const Case& c : cases) {
    StartRun();
    consoleMode = c.console;
    EXPECT_EQ(ConsoleCtrlHandler(c.event), c.handled) << c.event << " " << c.console;
    EXPECT_EQ(WaitForSingleObject(stopEvent, 0) == WAIT_OBJECT_0, c.stops)
        << c.event << " " << c.console;
    consoleMode = 0;
    EndRun();
  }
  StopHost();
}

}  // namespace
