// Console control of the POSIX platform layer: SetConsoleCtrlHandler with Windows' handler list,
// fed by the signals that stand for console events.
//
// How an event travels. The layer's signal handler does no more than copy the signal's siginfo_t
// into a pipe: write is async-signal-safe, and a record no larger than PIPE_BUF goes into a pipe
// whole or not at all. A thread of the layer's own reads the pipe and runs the handlers, as Windows
// runs them on a thread it starts in the process for the event. The pipe keeps, in order, the
// signals that arrive while handlers run; only a pipe filled with hundreds of unread signals would
// drop one.
//
// Where the handlers end. Windows' list ends in the default handler, which ends the process. Here
// the list ends in whatever the process did with the signal before the layer took it over: a
// JVM created earlier has installed its own handlers for these four signals, and those stand where
// the JVM's console handler stands on Windows, so they are reached when every handler of the list
// returned FALSE. A signal that was ignored before stays ignored; one whose action was the default
// ends the process as the default handler does.
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <system_error>
#include <ucontext.h>
#include <unistd.h>
#include <vector>

#include "platform/posix/error_text.h"
#include "platform/win32.h"

namespace {

// The signals that stand for console events, and the events they stand for.
struct ConsoleSignal {
  int number;
  DWORD event;
};
constexpr ConsoleSignal kSignals[] = {
    {SIGINT, CTRL_C_EVENT},
    {SIGQUIT, CTRL_BREAK_EVENT},
    {SIGHUP, CTRL_CLOSE_EVENT},
    {SIGTERM, CTRL_SHUTDOWN_EVENT},
};
constexpr size_t kSignalCount = sizeof kSignals / sizeof kSignals[0];

using HandlerList = std::vector<PHANDLER_ROUTINE>;

// Everything the layer keeps for console control. It is never destroyed: the dispatching thread
// lives as long as the process and may read it while the process exits.
struct ConsoleState {
  std::mutex mutex;
  // The handlers in the order they were added. The list is replaced whole on every change, so the
  // dispatching thread takes a snapshot without copying and calls the handlers with no lock held:
  // a handler may add or remove handlers, or set events that other threads wait for under locks of
  // their own.
  std::shared_ptr<const HandlerList> handlers = std::make_shared<const HandlerList>();
  bool dispatching = false;  // the pipe exists and the thread reads it
  bool installed = false;    // the signal handlers are in place, the previous actions saved
  int pipeRead = -1;
};

ConsoleState& State() {
  static auto* state = new ConsoleState;
  return *state;
}

// What the signal handler needs, readable without a lock: the pipe's writing end and the process
// that reads it. Lock-free atomics are safe to read in a signal handler.
std::atomic<int> signalPipe{-1};
std::atomic<pid_t> dispatchingProcess{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free int");
static_assert(std::atomic<pid_t>::is_always_lock_free, "the signal handler needs a lock-free pid");

// What each console signal did before the layer took it over, in the order of kSignals. Written
// once, under the state's mutex, before the layer's handlers are installed; read afterwards by the
// dispatching thread (under the mutex) and by the signal handler of a forked child.
struct sigaction previousActions[kSignalCount];

// Whether CTRL_C_EVENT is ignored, as SetConsoleCtrlHandler(NULL, TRUE) asks. The signal handler
// reads it, so that a Ctrl+C is judged by the setting of the moment it came, however long the
// dispatching thread takes to reach it.
std::atomic<bool> ignoreCtrlC{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free bool");

int SignalIndex(int number) {
  for (size_t index = 0; index < kSignalCount; ++index) {
    if (kSignals[index].number == number) return static_cast<int>(index);
  }
  return -1;
}

// The signal handler: it passes the signal on to the dispatching thread, and does nothing that
// is not async-signal-safe. The errno of the interrupted code is kept.
void OnSignal(int number, siginfo_t* info, void* context) {
  (void)context;
  const int savedErrno = errno;
  // A child forked from this process has no dispatching thread, and its pipe leads to the parent's:
  // there the signal gets back the action it had before the layer took it over, and is raised
  // again, to be taken by that action once this handler returns.
  if (getpid() != dispatchingProcess.load(std::memory_order_relaxed)) {
    const int index = SignalIndex(number);
    if (index >= 0) {
      sigaction(number, &previousActions[index], nullptr);
      raise(number);
    }
    errno = savedErrno;
    return;
  }
  if (number == SIGINT && ignoreCtrlC.load(std::memory_order_relaxed)) {
    errno = savedErrno;
    return;
  }
  siginfo_t record;
  if (info != nullptr) {
    std::memcpy(&record, info, sizeof record);
  } else {
    std::memset(&record, 0, sizeof record);
  }
  record.si_signo = number;
  const int descriptor = signalPipe.load(std::memory_order_relaxed);
  if (descriptor >= 0) {
    const ssize_t written = write(descriptor, &record, sizeof record);
    (void)written;  // a full pipe drops the signal; nothing better can be done here
  }
  errno = savedErrno;
}

// Ends the process as Windows' default handler does, which calls ExitProcess: the C runtime's
// buffered output is written out first, and then the process ends at once, without running the
// destructors of static objects that the other threads may still be using. Windows' exit code,
// STATUS_CONTROL_C_EXIT, does not fit the eight bits of a POSIX exit status, so the process ends
// with 128 plus the signal's number, the status a shell reports for a program the signal ended
// (130 for SIGINT, 131 for SIGQUIT, 129 for SIGHUP, 143 for SIGTERM).
[[noreturn]] void EndProcess(int number) {
  std::fflush(nullptr);
  _exit(128 + number);
}

// Hands a signal that no handler took to the action the process had before the layer took the
// signal over, calling a handler from this thread as the signal would have called it.
void PassOn(const siginfo_t& received, const struct sigaction& previous) {
  const int number = received.si_signo;
  if ((previous.sa_flags & SA_SIGINFO) != 0) {
    if (previous.sa_sigaction == nullptr) return;
    siginfo_t info = received;
    // A handler that asks for the context gets this thread's, as near as a call from a thread
    // comes to what a signal would have given it.
    ucontext_t context;
    void* contextPointer = getcontext(&context) == 0 ? &context : nullptr;
    previous.sa_sigaction(number, &info, contextPointer);
    return;
  }
  if (previous.sa_handler == SIG_IGN) return;
  if (previous.sa_handler == SIG_DFL) EndProcess(number);
  previous.sa_handler(number);
}

// Runs the handlers for one signal: the last added first, until one returns TRUE.
void Dispatch(const siginfo_t& received) {
  const int index = SignalIndex(received.si_signo);
  if (index < 0) return;
  const DWORD event = kSignals[index].event;

  std::shared_ptr<const HandlerList> handlers;
  struct sigaction previous {};
  {
    ConsoleState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);
    handlers = state.handlers;
    previous = previousActions[index];
  }
  for (auto handler = handlers->rbegin(); handler != handlers->rend(); ++handler) {
    if ((*handler)(event) != FALSE) return;
  }
  PassOn(received, previous);
}

// Reads exactly one record from the pipe. Returns false only when the pipe can no longer be
// read, which cannot happen while the layer holds its writing end open.
bool ReadRecord(int descriptor, siginfo_t& record) {
  auto* bytes = reinterpret_cast<unsigned char*>(&record);
  size_t done = 0;
  while (done < sizeof record) {
    const ssize_t count = read(descriptor, bytes + done, sizeof record - done);
    if (count > 0) {
      done += static_cast<size_t>(count);
    } else if (count < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  return true;
}

// The dispatching thread: it waits for signals and handles them one at a time, in the order they
// arrived, for the life of the process.
void* DispatchSignals(void* argument) {
  const int descriptor = *static_cast<const int*>(argument);
  siginfo_t record;
  while (ReadRecord(descriptor, record)) Dispatch(record);
  return nullptr;
}

// Creates the pipe and starts the dispatching thread. Called with the state's mutex held. Returns
// ERROR_SUCCESS or the Windows error code of the failure.
DWORD StartDispatching(ConsoleState& state) {
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return steward::posix::ErrorFromErrno(errno);
  // The signal handler must never block, so its end does not; the thread's end does.
  if (fcntl(ends[1], F_SETFL, O_NONBLOCK) != 0) {
    const int error = errno;
    close(ends[0]);
    close(ends[1]);
    return steward::posix::ErrorFromErrno(error);
  }
  state.pipeRead = ends[0];

  // The thread starts with the console signals blocked, so that they are delivered to the
  // process's other threads and never interrupt its reads. The thread inherits the mask of the
  // thread that creates it, which is therefore changed for the moment of the creation.
  sigset_t blocked;
  sigset_t saved;
  sigemptyset(&blocked);
  for (const ConsoleSignal& console : kSignals) sigaddset(&blocked, console.number);
  pthread_attr_t attributes;
  int result = pthread_attr_init(&attributes);
  if (result == 0) {
    result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (result == 0) {
      pthread_sigmask(SIG_BLOCK, &blocked, &saved);
      pthread_t thread{};
      result = pthread_create(&thread, &attributes, DispatchSignals, &state.pipeRead);
      pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
    pthread_attr_destroy(&attributes);
  }
  if (result != 0) {
    close(ends[0]);
    close(ends[1]);
    state.pipeRead = -1;
    return result == EAGAIN ? static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY)
                            : steward::posix::ErrorFromErrno(result);
  }
  signalPipe.store(ends[1]);
  dispatchingProcess.store(getpid());
  state.dispatching = true;
  return ERROR_SUCCESS;
}

// Takes the console signals over, saving what each did before. Called with the state's mutex
// held, once the thread is dispatching. Returns ERROR_SUCCESS or the Windows error code of the
// failure, in which case every signal keeps its previous action.
DWORD InstallSignalHandlers(ConsoleState& state) {
  struct sigaction action {};
  action.sa_sigaction = OnSignal;
  // SA_RESTART, so that taking a signal does not make the process's other calls fail with EINTR.
  action.sa_flags = SA_SIGINFO | SA_RESTART;
  sigemptyset(&action.sa_mask);
  for (size_t index = 0; index < kSignalCount; ++index) {
    if (sigaction(kSignals[index].number, &action, &previousActions[index]) != 0) {
      const int error = errno;
      while (index-- > 0) sigaction(kSignals[index].number, &previousActions[index], nullptr);
      return steward::posix::ErrorFromErrno(error);
    }
  }
  state.installed = true;
  return ERROR_SUCCESS;
}

// Makes sure that signals reach the handlers. Called with the state's mutex held.
DWORD EnsureInstalled(ConsoleState& state) {
  if (!state.dispatching) {
    const DWORD error = StartDispatching(state);
    if (error != ERROR_SUCCESS) return error;
  }
  if (!state.installed) return InstallSignalHandlers(state);
  return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  try {
    ConsoleState& state = State();
    std::lock_guard<std::mutex> lock(state.mutex);

    if (handler == nullptr) {
      // Ignoring Ctrl+C needs the signal taken over as well: left to its default action, SIGINT
      // would end the process that asked to ignore it.
      if (add != FALSE) {
        const DWORD error = EnsureInstalled(state);
        if (error != ERROR_SUCCESS) {
          SetLastError(error);
          return FALSE;
        }
      }
      ignoreCtrlC.store(add != FALSE);
      return TRUE;
    }

    if (add != FALSE) {
      const DWORD error = EnsureInstalled(state);
      if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
      }
      auto changed = std::make_shared<HandlerList>(*state.handlers);
      changed->push_back(handler);
      state.handlers = std::move(changed);
      return TRUE;
    }

    // A handler added more than once is listed once for each time; removing it takes away the
    // instance added last.
    const HandlerList& current = *state.handlers;
    for (size_t index = current.size(); index-- > 0;) {
      if (current[index] != handler) continue;
      auto changed = std::make_shared<HandlerList>(current);
      changed->erase(changed->begin() + static_cast<std::ptrdiff_t>(index));
      state.handlers = std::move(changed);
      return TRUE;
    }
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  } catch (const std::system_error&) {
    // Only locking the mutex throws this, and only when the system is out of resources.
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
}
