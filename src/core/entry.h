// The program's entry: reading the command line, choosing the run mode, and the process-wide
// facts every mode relies on (the service name and whether we run in a console).
#ifndef STEWARD_CORE_ENTRY_H
#define STEWARD_CORE_ENTRY_H

#include <cstddef>

// The service name buffer holds at most 1023 characters and a terminator.
constexpr std::size_t kServiceNameSize = 1024;

// Process exit codes. A mode that did its job ends with kExitSuccess; wrong usage and a failed
// start end with kExitFailure, so scripts can tell the two apart.
constexpr int kExitSuccess = 0;
constexpr int kExitFailure = 1;

// The service's name: its service and display name, its event-log source, and the variable part
// of its registry paths. Written once by StewardMain before any other thread exists.
extern char serviceName[kServiceNameSize];

// 1 when running as the console runner (-c): diagnostics then go to standard output and nothing
// is reported to a service manager. Written once by StewardMain before any mode routine runs.
extern int consoleMode;

// Selects the run mode from the command line and runs it; returns the process exit code.
int StewardMain(int argc, char** argv);

#endif  // STEWARD_CORE_ENTRY_H
