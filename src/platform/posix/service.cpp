// The service control manager of the POSIX platform layer.
//
// For now the layer has no service manager, so no process of it was started as a service, and
// StartServiceCtrlDispatcherA answers as Windows answers a program run from a console:
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT. The caller then knows it runs as an ordinary program.
// For the same reason no status handle exists, and SetServiceStatus refuses every one.
#include "platform/win32.h"

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceTable) {
  if (serviceTable == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  return FALSE;
}

// A process that no service manager started was never given a status handle, so whatever handle
// it passes is not one, and Windows refuses a handle that is not one with ERROR_INVALID_HANDLE.
BOOL WINAPI SetServiceStatus(SERVICE_STATUS_HANDLE handle, LPSERVICE_STATUS status) {
  (void)handle;
  (void)status;
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
