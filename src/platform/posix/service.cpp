// The service control manager of the POSIX platform layer.
//
// For now the layer has no service manager, so no process of it was started as a service, and
// StartServiceCtrlDispatcherA answers as Windows answers a program run from a console:
// ERROR_FAILED_SERVICE_CONTROLLER_CONNECT. The caller then knows it runs as an ordinary program.
#include "platform/win32.h"

BOOL WINAPI StartServiceCtrlDispatcherA(const SERVICE_TABLE_ENTRYA* serviceTable) {
  if (serviceTable == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  SetLastError(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT);
  return FALSE;
}
