#include "host/host_state.h"

#include <atomic>

#include "core/entry.h"

StringList javaOptions;
StringList programArguments;
HostSettings hostSettings;
HANDLE stopEvent = nullptr;
JavaVM* javaVM = nullptr;
JNIEnv* jniEnv = nullptr;
std::mutex hostMutex;
bool hostStopped = false;

namespace {
std::atomic<bool> hostFailed{false};
}  // namespace

void StopHost() {
  std::lock_guard<std::mutex> lock(hostMutex);
  ReleaseStringList(javaOptions);
  ReleaseStringList(programArguments);
  hostSettings = HostSettings();
  hostStopped = true;
  if (stopEvent != nullptr) SetEvent(stopEvent);
}

void FailHost() {
  hostFailed = true;
  StopHost();
}

bool HostFailed() {
  return hostFailed;
}

BOOL WINAPI ConsoleCtrlHandler(DWORD eventType) {
  switch (eventType) {
    case CTRL_C_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
      // A service outlives the console and the user session it was started from.
      if (consoleMode == 1) StopHost();
      return TRUE;
    case CTRL_SHUTDOWN_EVENT:
      StopHost();
      return TRUE;
    default:
      return FALSE;
  }
}
