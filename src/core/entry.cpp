#include "core/entry.h"

#include <cstdio>
#include <cstring>

#include "core/log.h"
#include "core/messages.h"
#include "host/host_run.h"
#include "platform/win32.h"

char serviceName[kServiceNameSize];
int consoleMode = 0;

namespace {

// True when arg is "-X" or "/X" for the option letter X, in either case.
bool IsOption(const char* arg, char letter) {
  const char dash[] = {'-', letter, '\0'};
  const char slash[] = {'/', letter, '\0'};
  return _stricmp(arg, dash) == 0 || _stricmp(arg, slash) == 0;
}

// Stores the name given on the command line. A name that does not fit is refused before
// anything is done: cutting it would install, run or remove a service of another name.
bool SetServiceName(const char* name) {
  const std::size_t length = std::strlen(name);
  if (length >= kServiceNameSize) {
    std::printf(MSG_SERVICE_NAME_TOO_LONG, static_cast<unsigned>(length),
                static_cast<unsigned>(kServiceNameSize - 1));
    return false;
  }
  // The rest of the buffer is cleared as well, so it never holds a tail of an older name.
  std::memset(serviceName, 0, sizeof serviceName);
  std::memcpy(serviceName, name, length);
  return true;
}

// The routine that the service manager runs on a thread of its own once the dispatcher has
// connected. The service runtime is not part of this build yet; a service started anyway says
// so in the event log rather than pretending to run.
void WINAPI ServiceMain(DWORD /*argc*/, LPSTR* /*argv*/) {
  LogEvent(MSG_SERVICE_MODE_NOT_AVAILABLE);
}

// Service mode: the service manager started us with the service name alone. From a console the
// dispatcher fails at once, which is reported on the console and in the event log.
int RunServiceDispatcher(const char* name) {
  if (!SetServiceName(name)) return kExitFailure;
  std::printf(MSG_ONLY_SERVICE_NAME);
  std::printf(MSG_CALLING_DISPATCHER);
  // The dispatcher blocks for the service's whole life: show the lines before it does.
  std::fflush(stdout);

  SERVICE_TABLE_ENTRYA table[] = {{serviceName, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) {
    std::printf("\n%s\n", MSG_DISPATCHER_FAILED);
    std::fflush(stdout);
    LogEvent(MSG_DISPATCHER_FAILED);
    return kExitFailure;
  }
  return kExitSuccess;
}

// The install and remove modes. Their routines join the program with the service registration;
// until then a request for them is refused plainly.
int RunUnavailableMode(const char* mode) {
  std::printf(MSG_MODE_NOT_AVAILABLE, mode);
  return kExitFailure;
}

}  // namespace

int StewardMain(int argc, char** argv) {
  if (argc < 2) {
    std::printf(MSG_TOO_FEW_ARGUMENTS);
    return kExitFailure;
  }
  if (argc == 2) return RunServiceDispatcher(argv[1]);

  const char* option = argv[1];
  if (IsOption(option, 'i')) {
    if (!SetServiceName(argv[2])) return kExitFailure;
    return RunUnavailableMode("install");
  }
  if (IsOption(option, 'r')) {
    if (!SetServiceName(argv[2])) return kExitFailure;
    return RunUnavailableMode("remove");
  }
  if (IsOption(option, 'c')) {
    consoleMode = 1;
    if (!SetServiceName(argv[2])) return kExitFailure;
    return RunConsole(argc, argv);
  }
  std::printf(MSG_UNRECOGNIZED_OPTION, option);
  return kExitFailure;
}
