// The service's status record and the rules by which it is reported to the service manager:
// which controls are accepted in each state and how the checkpoint advances. In console mode
// nothing is reported, so the Java host runs the same way without a service manager.
#ifndef STEWARD_SERVICE_STATUS_H
#define STEWARD_SERVICE_STATUS_H

#include "platform/win32.h"

// The one status record of the process; its type and specific exit code are set by the service
// entry before the first report.
extern SERVICE_STATUS serviceStatus;
// The handle the service manager gave when the control handler was registered.
extern SERVICE_STATUS_HANDLE statusHandle;
// The checkpoint that the next pending report carries; starts at 1 and only grows.
extern DWORD checkPoint;

// Reports state with exitCode and waitHint. Returns nonzero on success; on failure logs
// "SetServiceStatus" and returns zero. In console mode returns 1 and touches nothing. Reports
// from the service thread and the control handler's thread are serialised, so the record and the
// checkpoint never tear.
BOOL ReportServiceStatus(DWORD state, DWORD exitCode, DWORD waitHint);

#endif  // STEWARD_SERVICE_STATUS_H
