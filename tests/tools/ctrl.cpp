// steward-ctrl: delivers a console control event to another process, as Windows delivers one.
// The end-to-end tests use it under Wine, where only Ctrl+C can be sent from Linux (as SIGINT):
//
//   steward-ctrl PID EVENT
//   steward-ctrl --image NAME EVENT
//
// EVENT is ctrl-c, break, close, logoff, shutdown or an event number. With --image the target
// is the one running process of that image name (steward.exe) and of the tool's own bitness;
// Windows process ids under Wine are not the Linux ones, so a test names the image instead.
//
// Windows delivers a console control event by starting a thread in the receiving process at
// kernel32's CtrlRoutine with the event number as the thread's argument; CtrlRoutine then calls
// the process's handlers, the last added first. The tool does the same with CreateRemoteThread.
// kernel32 lies at the same address in every process of one bitness, so the address that
// GetProcAddress gives here is valid in the target, which is why the tool only serves processes
// of its own bitness. Exit code 0 once the event was delivered, 1 with a message otherwise.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct NamedEvent {
  const char* name;
  DWORD event;
};

constexpr NamedEvent kEvents[] = {
    {"ctrl-c", CTRL_C_EVENT},      {"break", CTRL_BREAK_EVENT},       {"close", CTRL_CLOSE_EVENT},
    {"logoff", CTRL_LOGOFF_EVENT}, {"shutdown", CTRL_SHUTDOWN_EVENT},
};

// How long to wait for the target's handlers to finish, so that a caller which checks the
// target afterwards sees the event's effect. A handler that takes longer is not an error.
constexpr DWORD kHandlerWaitMs = 10000;

int Usage() {
  std::fprintf(stderr,
               "usage: steward-ctrl PID EVENT\n"
               "       steward-ctrl --image NAME EVENT\n"
               "EVENT: ctrl-c, break, close, logoff, shutdown or an event number\n");
  return 1;
}

int Failure(const char* what) {
  std::fprintf(stderr, "steward-ctrl: %s (error %lu)\n", what, GetLastError());
  return 1;
}

bool ParseNumber(const char* text, DWORD& value) {
  char* end = nullptr;
  const unsigned long number = std::strtoul(text, &end, 0);
  if (*text == '\0' || *end != '\0') return false;
  value = number;
  return true;
}

bool ParseEvent(const char* text, DWORD& event) {
  for (const NamedEvent& named : kEvents) {
    if (_stricmp(text, named.name) == 0) {
      event = named.event;
      return true;
    }
  }
  return ParseNumber(text, event);
}

// True when the process is a 32-bit one on a 64-bit system; false too when that cannot be told.
bool IsWow64(HANDLE process) {
  BOOL wow64 = FALSE;
  return IsWow64Process(process, &wow64) && wow64;
}

// Finds the one process of the image name whose bitness is the tool's own. Returns 0 after a
// message when there is none or more than one.
DWORD FindByImage(const char* image) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) {
    Failure("cannot list the running processes");
    return 0;
  }
  const bool ownWow64 = IsWow64(GetCurrentProcess());
  const DWORD self = GetCurrentProcessId();
  DWORD found = 0;
  int count = 0;
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == self || _stricmp(entry.szExeFile, image) != 0) continue;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
    if (process == nullptr) continue;  // It has ended since the snapshot.
    const bool sameBitness = IsWow64(process) == ownWow64;
    CloseHandle(process);
    if (!sameBitness) continue;
    found = entry.th32ProcessID;
    ++count;
  }
  CloseHandle(snapshot);
  if (count == 1) return found;
  if (count == 0) {
    std::fprintf(stderr, "steward-ctrl: no process of image %s and of this tool's bitness runs\n",
                 image);
  } else {
    std::fprintf(stderr,
                 "steward-ctrl: %d processes of image %s run; name the one meant by its id\n",
                 count, image);
  }
  return 0;
}

// kernel32's CtrlRoutine, where newer Windows forward it from kernelbase.
LPTHREAD_START_ROUTINE FindCtrlRoutine() {
  constexpr const char* kModules[] = {"kernel32.dll", "kernelbase.dll"};
  for (const char* module : kModules) {
    HMODULE handle = GetModuleHandleA(module);
    if (handle == nullptr) continue;
    FARPROC routine = GetProcAddress(handle, "CtrlRoutine");
    // Through the generic function type, which converts to any other without a warning.
    if (routine != nullptr) {
      return reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)(void)>(routine));
    }
  }
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD pid = 0;
  DWORD event = 0;
  if (argc == 4 && std::strcmp(argv[1], "--image") == 0) {
    if (!ParseEvent(argv[3], event)) return Usage();
    pid = FindByImage(argv[2]);
    if (pid == 0) return 1;
  } else if (argc == 3) {
    if (!ParseNumber(argv[1], pid) || pid == 0 || !ParseEvent(argv[2], event)) return Usage();
  } else {
    return Usage();
  }

  const LPTHREAD_START_ROUTINE routine = FindCtrlRoutine();
  if (routine == nullptr) return Failure("kernel32 has no CtrlRoutine here");

  HANDLE process = OpenProcess(PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION |
                                   PROCESS_VM_OPERATION | PROCESS_VM_WRITE | PROCESS_VM_READ,
                               FALSE, pid);
  if (process == nullptr) return Failure("cannot open the process");
  if (IsWow64(process) != IsWow64(GetCurrentProcess())) {
    CloseHandle(process);
    std::fprintf(stderr, "steward-ctrl: process %lu is not of this tool's bitness\n", pid);
    return 1;
  }

  // The event number travels as the thread's argument.
  HANDLE thread =
      CreateRemoteThread(process, nullptr, 0, routine,
                         reinterpret_cast<LPVOID>(static_cast<ULONG_PTR>(event)), 0, nullptr);
  if (thread == nullptr) {
    const int status = Failure("cannot start CtrlRoutine in the process");
    CloseHandle(process);
    return status;
  }
  WaitForSingleObject(thread, kHandlerWaitMs);
  CloseHandle(thread);
  CloseHandle(process);
  std::printf("Sent event %lu to process %lu.\n", event, pid);
  return 0;
}
