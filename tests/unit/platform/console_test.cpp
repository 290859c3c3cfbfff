// The POSIX layer's console control, tried as a caller sees it: signals sent to the process reach
// the handlers of SetConsoleCtrlHandler as console events. What the layer changes (the signal
// actions, its thread) is process-wide and cannot be undone, so every case runs in a child process
// of its own and reports through a pipe what went wrong, if anything.
#include <gtest/gtest.h>

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace {

// How long a child waits for an event to be handled, and how long the test waits for a child.
constexpr std::chrono::seconds kEventWait(10);
constexpr std::chrono::seconds kChildWait(30);

// ---- What a child records: "T0" is handler T called with event 0, "old2" the signal handler
// installed before the layer called with signal 2. Handlers run on the layer's thread while the
// child's main thread waits for their entries, hence the lock.

std::mutex recordsMutex;
std::condition_variable recordsChanged;
std::vector<std::string> records;
pthread_t callerThread;
std::atomic<bool> ranOnCallerThread{false};

void Record(const std::string& entry) {
  if (pthread_equal(pthread_self(), callerThread)) ranOnCallerThread = true;
  std::lock_guard<std::mutex> lock(recordsMutex);
  records.push_back(entry);
  recordsChanged.notify_all();
}

// The entries once there are at least `count` of them, or as many as came within kEventWait.
std::vector<std::string> AwaitRecords(size_t count) {
  std::unique_lock<std::mutex> lock(recordsMutex);
  recordsChanged.wait_for(lock, kEventWait, [count] { return records.size() >= count; });
  return records;
}

std::string Joined(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& entry : entries) text += (text.empty() ? "" : " ") + entry;
  return "[" + text + "]";
}

// ---- Handlers.

BOOL WINAPI Pass(DWORD event) {
  Record("P" + std::to_string(event));
  return FALSE;
}

BOOL WINAPI Take(DWORD event) {
  Record("T" + std::to_string(event));
  return TRUE;
}

BOOL WINAPI TakeShutdown(DWORD event) {
  Record("S" + std::to_string(event));
  return event == CTRL_SHUTDOWN_EVENT ? TRUE : FALSE;
}

// Takes one event and removes itself while it runs.
BOOL WINAPI TakeOnce(DWORD event) {
  Record("O" + std::to_string(event));
  return SetConsoleCtrlHandler(TakeOnce, FALSE);
}

// Takes every event, but holds the first until the gate opens.
HANDLE gate = nullptr;
BOOL WINAPI Gated(DWORD event) {
  Record("G" + std::to_string(event));
  return WaitForSingleObject(gate, 10000) == WAIT_OBJECT_0 ? TRUE : FALSE;
}

// Passes every event on, writing it to a buffered stream that only an orderly end flushes.
FILE* printed = nullptr;
BOOL WINAPI PassAndPrint(DWORD event) {
  std::fprintf(printed, "P%lu;", static_cast<unsigned long>(event));
  Record("P" + std::to_string(event));
  return FALSE;
}

// Signal handlers as a JVM installs them before the layer takes the signals over.
void OldHandler(int signal) {
  Record("old" + std::to_string(signal));
}

void OldHandlerWithInfo(int signal, siginfo_t* info, void* context) {
  (void)context;
  const bool fromKill = info != nullptr && info->si_signo == signal && info->si_code == SI_USER &&
                        info->si_pid == getpid();
  Record((fromKill ? "oldinfo" : "oldinfo-wrong") + std::to_string(signal));
}

// ---- Running a case in a child process.

struct ChildResult {
  std::string report;  // what the child wrote to the pipe
  bool exited = false;
  int exitCode = -1;
};

// Runs `body` in a child process. The body gets the pipe's writing end, and what it returns is
// written there too; the child then ends with exit code 0. A child that takes longer than
// kChildWait is killed and reported.
ChildResult RunInChild(const std::function<std::string(int)>& body) {
  ChildResult result;
  int ends[2];
  if (pipe(ends) != 0) {
    result.report = "could not make a pipe";
    return result;
  }
  std::fflush(nullptr);  // so that the child does not write the parent's buffered output again
  const pid_t pid = fork();
  if (pid == 0) {
    close(ends[0]);
    const std::string report = body(ends[1]);
    if (!report.empty() && write(ends[1], report.data(), report.size()) < 0) _exit(2);
    _exit(0);
  }
  close(ends[1]);
  if (pid < 0) {
    close(ends[0]);
    result.report = "could not start a child process";
    return result;
  }

  const auto deadline = std::chrono::steady_clock::now() + kChildWait;
  bool timedOut = false;
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd readable{ends[0], POLLIN, 0};
    if (left.count() <= 0 || poll(&readable, 1, static_cast<int>(left.count())) == 0) {
      timedOut = true;
      break;
    }
    char buffer[512];
    const ssize_t count = read(ends[0], buffer, sizeof buffer);
    if (count <= 0) break;  // the child has ended (or the pipe failed)
    result.report.append(buffer, static_cast<size_t>(count));
  }
  close(ends[0]);
  if (timedOut) {
    kill(pid, SIGKILL);
    result.report += " [the child did not end in time]";
  }
  int status = 0;
  waitpid(pid, &status, 0);
  result.exited = WIFEXITED(status);
  result.exitCode = result.exited ? WEXITSTATUS(status) : -1;
  return result;
}

// ---- Cases as scripts: what the process did with the signals before, what the child does, and
// the entries the handlers must leave. Every script ends with an event that a handler or an
// earlier signal handler takes, so nothing may follow the last expected entry, and any entry an
// earlier event should not have made shows as one out of place.

enum class Before { kRecorded, kRecordedWithInfo, kIgnored };

struct PreviousAction {
  int signal;
  Before action;
};

enum class Op { kAdd, kRemove, kRemoveMissing, kIgnoreCtrlC, kHonourCtrlC, kSend, kAwait, kOpen };

struct Step {
  Op op;
  PHANDLER_ROUTINE handler = nullptr;
  int value = 0;  // the signal to send, or the entries to wait for
};

Step Add(PHANDLER_ROUTINE handler) {
  return {Op::kAdd, handler};
}
Step Remove(PHANDLER_ROUTINE handler) {
  return {Op::kRemove, handler};
}
Step RemoveMissing(PHANDLER_ROUTINE handler) {
  return {Op::kRemoveMissing, handler};
}
Step IgnoreCtrlC() {
  return {Op::kIgnoreCtrlC};
}
Step HonourCtrlC() {
  return {Op::kHonourCtrlC};
}
Step Send(int signal) {
  return {Op::kSend, nullptr, signal};
}
Step AwaitEntries(int count) {
  return {Op::kAwait, nullptr, count};
}
Step OpenGate() {
  return {Op::kOpen};
}

struct Script {
  const char* name;
  std::vector<PreviousAction> before;
  std::vector<Step> steps;
  std::vector<std::string> expected;
};

// Gives the console signals their default actions, the state a case starts from whatever the
// test program inherited: a shell starts a background job with SIGINT and SIGQUIT ignored.
std::string StartFromDefaultActions() {
  callerThread = pthread_self();
  for (int signal : {SIGINT, SIGQUIT, SIGHUP, SIGTERM}) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    if (sigaction(signal, &action, nullptr) != 0) return "sigaction failed";
  }
  return "";
}

std::string SetUpPreviousAction(const PreviousAction& previous) {
  struct sigaction action {};
  sigemptyset(&action.sa_mask);
  switch (previous.action) {
    case Before::kRecorded:
      action.sa_handler = OldHandler;
      break;
    case Before::kRecordedWithInfo:
      action.sa_sigaction = OldHandlerWithInfo;
      action.sa_flags = SA_SIGINFO;
      break;
    case Before::kIgnored:
      action.sa_handler = SIG_IGN;
      break;
  }
  return sigaction(previous.signal, &action, nullptr) == 0 ? "" : "sigaction failed";
}

std::string RunStep(const Step& step, size_t number) {
  const std::string where = "step " + std::to_string(number) + ": ";
  switch (step.op) {
    case Op::kAdd:
    case Op::kRemove:
      if (SetConsoleCtrlHandler(step.handler, step.op == Op::kAdd ? TRUE : FALSE) == FALSE) {
        return where + "SetConsoleCtrlHandler failed with " + std::to_string(GetLastError());
      }
      return "";
    case Op::kRemoveMissing:
      SetLastError(ERROR_SUCCESS);
      if (SetConsoleCtrlHandler(step.handler, FALSE) != FALSE) {
        return where + "a handler that is not listed was removed";
      }
      if (GetLastError() != ERROR_INVALID_PARAMETER) {
        return where + "the error is " + std::to_string(GetLastError());
      }
      return "";
    case Op::kIgnoreCtrlC:
    case Op::kHonourCtrlC:
      if (SetConsoleCtrlHandler(nullptr, step.op == Op::kIgnoreCtrlC ? TRUE : FALSE) == FALSE) {
        return where + "SetConsoleCtrlHandler(NULL) failed with " + std::to_string(GetLastError());
      }
      return "";
    case Op::kSend:
      return kill(getpid(), step.value) == 0 ? "" : where + "kill failed";
    case Op::kAwait: {
      const auto count = static_cast<size_t>(step.value);
      const std::vector<std::string> entries = AwaitRecords(count);
      return entries.size() >= count ? "" : where + "only " + Joined(entries) + " came";
    }
    case Op::kOpen:
      return SetEvent(gate) != FALSE ? "" : where + "SetEvent failed";
  }
  return where + "unknown step";
}

std::string RunScript(const Script& script) {
  if (const std::string failure = StartFromDefaultActions(); !failure.empty()) return failure;
  gate = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  for (const PreviousAction& previous : script.before) {
    const std::string failure = SetUpPreviousAction(previous);
    if (!failure.empty()) return failure;
  }
  for (size_t number = 0; number < script.steps.size(); ++number) {
    const std::string failure = RunStep(script.steps[number], number);
    if (!failure.empty()) return failure;
  }
  const std::vector<std::string> entries = AwaitRecords(script.expected.size());
  if (entries != script.expected) {
    return "expected " + Joined(script.expected) + ", got " + Joined(entries);
  }
  if (ranOnCallerThread) return "a handler ran on the thread that sent the signal";
  return "";
}

TEST(ConsoleTest, HandlersTakeEventsAsWindowsCallsThem) {
  const Script scripts[] = {
      {"the last added runs first, and FALSE passes the event on",
       {{SIGINT, Before::kRecorded}},
       {Add(Take), Add(Pass), Send(SIGINT), Send(SIGTERM)},
       {"P0", "T0", "P6", "T6"}},
      {"TRUE ends the handling",
       {{SIGINT, Before::kRecorded}},
       {Add(Pass), Add(Take), Send(SIGINT), Send(SIGQUIT)},
       {"T0", "T1"}},
      {"the signal handler from before is reached when every handler returns FALSE",
       {{SIGINT, Before::kRecorded},
        {SIGQUIT, Before::kRecorded},
        {SIGHUP, Before::kRecorded},
        {SIGTERM, Before::kRecorded}},
       {Add(Pass), Add(Pass), Send(SIGINT), Send(SIGQUIT), Send(SIGHUP), Send(SIGTERM)},
       {"P0", "P0", "old2", "P1", "P1", "old3", "P2", "P2", "old1", "P6", "P6", "old15"}},
      {"one that takes the signal's information gets the sender's",
       {{SIGHUP, Before::kRecordedWithInfo}},
       {Add(Pass), Send(SIGHUP)},
       {"P2", "oldinfo1"}},
      {"a signal ignored before stays ignored when no handler takes it",
       {{SIGINT, Before::kIgnored}},
       {Add(TakeShutdown), Send(SIGINT), Send(SIGTERM)},
       {"S0", "S6"}},
      {"removing takes away the instance added last, and only a listed one",
       {},
       {Add(Pass), Add(Take), Add(Pass), Remove(Pass), Send(SIGINT), AwaitEntries(1), Remove(Take),
        Remove(Pass), RemoveMissing(Pass), RemoveMissing(Take), Add(Take), Send(SIGQUIT)},
       {"T0", "T1"}},
      {"a handler may change the list while it runs",
       {},
       {Add(TakeShutdown), Add(TakeOnce), Send(SIGINT), Send(SIGTERM)},
       {"O0", "S6"}},
      {"signals that arrive while a handler runs wait their turn",
       {},
       {Add(Gated), Send(SIGINT), AwaitEntries(1), Send(SIGTERM), Send(SIGINT), Send(SIGQUIT),
        OpenGate()},
       {"G0", "G6", "G0", "G1"}},
      {"Ctrl+C can be ignored, before any handler is added, and honoured again",
       {{SIGINT, Before::kRecorded}},
       {IgnoreCtrlC(), Send(SIGINT), Add(TakeShutdown), Send(SIGINT), Send(SIGTERM), HonourCtrlC(),
        Send(SIGINT), Send(SIGTERM)},
       {"S6", "S0", "old2", "S6"}},
  };
  for (const Script& script : scripts) {
    const ChildResult result = RunInChild([&script](int) { return RunScript(script); });
    EXPECT_EQ(result.report, "") << script.name;
    EXPECT_TRUE(result.exited && result.exitCode == 0)
        << script.name << ": the child ended with code " << result.exitCode;
  }
}

TEST(ConsoleTest, AnEventNoHandlerTakesEndsTheProcessWithItsSignalsShellStatus) {
  struct Case {
    int signal;
    DWORD event;
    int exitCode;
  };
  const Case cases[] = {
      {SIGINT, CTRL_C_EVENT, 130},
      {SIGQUIT, CTRL_BREAK_EVENT, 131},
      {SIGHUP, CTRL_CLOSE_EVENT, 129},
      {SIGTERM, CTRL_SHUTDOWN_EVENT, 143},
  };
  for (const Case& c : cases) {
    const ChildResult result = RunInChild([&c](int report) -> std::string {
      if (const std::string failure = StartFromDefaultActions(); !failure.empty()) return failure;
      printed = fdopen(dup(report), "w");
      if (printed == nullptr) return "fdopen failed";
      if (SetConsoleCtrlHandler(PassAndPrint, TRUE) == FALSE) return "SetConsoleCtrlHandler failed";
      // Written to the stream's buffer only: it reaches the pipe if the process flushes as it ends.
      std::fprintf(printed, "before;");
      kill(getpid(), c.signal);
      AwaitRecords(2);  // a second entry never comes; the wait ends with the process or in time
      return "the process outlived the event";
    });
    EXPECT_EQ(result.report, "before;P" + std::to_string(c.event) + ";") << "signal " << c.signal;
    EXPECT_TRUE(result.exited) << "signal " << c.signal;
    EXPECT_EQ(result.exitCode, c.exitCode) << "signal " << c.signal;
  }
}

TEST(ConsoleTest, AProcessForkedAfterwardsTakesTheSignalsAsBefore) {
  const ChildResult result = RunInChild([](int) -> std::string {
    if (const std::string failure = StartFromDefaultActions(); !failure.empty()) return failure;
    if (SetConsoleCtrlHandler(Take, TRUE) == FALSE) return "SetConsoleCtrlHandler failed";
    // The forked process has no thread to run handlers, so SIGTERM ends it by its default
    // action; were it passed on, this process's handler would take it and the fork would live.
    const pid_t forked = fork();
    if (forked == 0) {
      kill(getpid(), SIGTERM);
      _exit(0);
    }
    int status = 0;
    if (forked < 0 || waitpid(forked, &status, 0) != forked) return "fork or waitpid failed";
    if (!WIFSIGNALED(status) || WTERMSIG(status) != SIGTERM) return "SIGTERM did not end the fork";
    // The handler takes this process's own events, and took none of the fork's.
    kill(getpid(), SIGINT);
    const std::vector<std::string> entries = AwaitRecords(1);
    if (entries != std::vector<std::string>{"T0"}) return "got " + Joined(entries);
    return "";
  });
  EXPECT_EQ(result.report, "");
  EXPECT_TRUE(result.exited && result.exitCode == 0) << "exit code " << result.exitCode;
}

TEST(ConsoleTest, HandlersAddedAndRemovedFromManyThreadsAtOnceAreAllKept) {
  constexpr int kThreads = 4;
  constexpr int kEach = 200;
  const ChildResult result = RunInChild([](int) -> std::string {
    std::atomic<int> failures{0};
    auto everyThread = [&failures](BOOL add) {
      std::vector<std::thread> threads;
      for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&failures, add] {
          for (int call = 0; call < kEach; ++call) {
            if (SetConsoleCtrlHandler(Pass, add) == FALSE) ++failures;
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
    };
    everyThread(TRUE);
    everyThread(FALSE);
    if (failures != 0) return std::to_string(failures.load()) + " calls failed";
    // Every instance added has been removed, and no more.
    if (SetConsoleCtrlHandler(Pass, FALSE) != FALSE) return "an instance too many was listed";
    return "";
  });
  EXPECT_EQ(result.report, "");
  EXPECT_TRUE(result.exited && result.exitCode == 0) << "exit code " << result.exitCode;
}

}  // namespace
