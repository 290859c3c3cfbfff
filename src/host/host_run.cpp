#include "host/host_run.h"

#include <cstdio>

#include "core/entry.h"
#include "core/log.h"
#include "core/messages.h"
#include "host/host_state.h"
#include "host/launcher.h"
#include "params/classify.h"
#include "service/status.h"

namespace {

constexpr DWORD kStartWaitHint = 3000;

// Sorts the launch parameters into the host state.
void FillHostState(std::uint32_t count, const char* const* entries) {
  std::lock_guard<std::mutex> lock(hostMutex);
  CollectJavaOptions(count, entries, javaOptions);
  CollectProgramArguments(count, entries, programArguments);
  hostSettings.workingDirectory = FindSetting(count, entries, KEYWORD_WORKING_DIRECTORY);
  hostSettings.mainClass = FindSetting(count, entries, KEYWORD_MAIN_CLASS);
  hostSettings.jvmLibrary = FindSetting(count, entries, KEYWORD_JVM_LIBRARY);
}

}  // namespace

bool RunHost(std::uint32_t count, const char* const* entries) {
  if (!ReportServiceStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHint)) return false;

  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (event == nullptr) return false;
  {
    std::lock_guard<std::mutex> lock(hostMutex);
    stopEvent = event;
  }
  FillHostState(count, entries);

  // The service counts as started once its parameters are sorted, whatever the launch meets.
  bool ran = ReportServiceStatus(SERVICE_RUNNING, NO_ERROR, 0);
  if (ran) {
    if (_beginthread(JavaLauncherThread, 0, nullptr) == static_cast<uintptr_t>(-1)) {
      LogEvent(MSG_CANNOT_START_LAUNCHER);
      FailHost();
    }
    WaitForSingleObject(event, INFINITE);
  }

  // Closed under the lock, so a late StopHost finds no event rather than a closed one.
  {
    std::lock_guard<std::mutex> lock(hostMutex);
    CloseHandle(stopEvent);
    stopEvent = nullptr;
  }
  return ran && !HostFailed();
}

int RunConsole(int argc, char** argv) {
  std::printf(MSG_RUNNING, serviceName);
  std::fflush(stdout);
  const bool stopped = RunHost(static_cast<std::uint32_t>(argc - 3), argv + 3);
  std::fflush(stdout);
  return stopped ? kExitSuccess : kExitFailure;
}
