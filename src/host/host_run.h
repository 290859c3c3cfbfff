// Running the Java host: shared by the service and the console runner.
#ifndef STEWARD_HOST_HOST_RUN_H
#define STEWARD_HOST_HOST_RUN_H

#include <cstdint>

// Sorts the launch parameters (count entries, valid until RunHost returns) into the host state,
// reports the start and the running state to the service manager, starts the launcher thread and
// waits until the run is stopped. Returns true when the run ended by a stop; false when a report
// or the set-up failed, or when the Java application could not be launched or its main method
// ended with an exception.
bool RunHost(std::uint32_t count, const char* const* entries);

// The console runner (-c NAME PARAMETER...): prints the running line and hosts the application
// in the foreground until Ctrl+C, the console's closing, logoff or shutdown. Returns the process
// exit code: 0 after a stop, 1 after a failure.
int RunConsole(int argc, char** argv);

#endif  // STEWARD_HOST_HOST_RUN_H
