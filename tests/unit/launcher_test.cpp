// The launcher thread's own decisions, before any JVM is involved.
#include "host/launcher.h"

#include <gtest/gtest.h>

#include <string>

#include "core/entry.h"
#include "host/host_state.h"

namespace {

// Runs the launcher thread's body on this thread, in console mode, with the parameters given;
// returns what it reported.
std::string Launch(const char* parameters, bool stopFirst) {
  {
    std::lock_guard<std::mutex> lock(hostMutex);
    SplitParameters(parameters, programArguments);
    hostSettings = HostSettings();
    hostStopped = false;
  }
  if (stopFirst) StopHost();
  consoleMode = 1;
  testing::internal::CaptureStdout();
  JavaLauncherThread(nullptr);
  const std::string reported = testing::internal::GetCapturedStdout();
  consoleMode = 0;
  return reported;
}

TEST(JavaLauncherThread, DoesNothingOnceTheRunHasBeenStopped) {
  // A stop that came before the thread took its copy of the state: nothing is launched and
  // nothing is reported, not even the missing main class.
  const bool failedBefore = HostFailed();
  EXPECT_EQ(Launch("a", true), "");
  EXPECT_EQ(HostFailed(), failedBefore);
}

TEST(JavaLauncherThread, WithoutAMainClassSaysSoAndFailsTheRun) {
  EXPECT_EQ(Launch("a\tb", false), "No main class given: add mainclass=CLASS to the parameters.\n");
  EXPECT_TRUE(HostFailed());
  EXPECT_TRUE(hostStopped);
  EXPECT_EQ(programArguments.count, 0u);
}

}  // namespace
