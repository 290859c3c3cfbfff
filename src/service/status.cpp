#include "service/status.h"

#include <mutex>

#include "core/entry.h"
#include "core/log.h"
#include "core/messages.h"

SERVICE_STATUS serviceStatus;
SERVICE_STATUS_HANDLE statusHandle = nullptr;
DWORD checkPoint = 1;

namespace {
std::mutex statusMutex;
}  // namespace

BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
  if (consoleMode == 1) return 1;

  BOOL reported;
  {
    std::lock_guard<std::mutex> lock(statusMutex);
    serviceStatus.dwCurrentState = state;
    serviceStatus.dwWin32ExitCode = exitCode;
    serviceStatus.dwWaitHint = waitHint;
    // No control may arrive while the service is still starting; stop is accepted afterwards,
    // also while stopping and once stopped.
    serviceStatus.dwControlsAccepted = state == SERVICE_START_PENDING ? 0 : SERVICE_ACCEPT_STOP;
    if (state == SERVICE_RUNNING || state == SERVICE_STOPPED) {
      serviceStatus.dwCheckPoint = 0;
    } else {
      serviceStatus.dwCheckPoint = checkPoint++;
    }
    reported = SetServiceStatus(statusHandle, &serviceStatus);
  }
  if (!reported) LogEvent(MSG_SET_SERVICE_STATUS_FAILED);
  return reported;
}
