// The kernel services of the POSIX platform layer: the last error, system message texts, events,
// threads, modules, the current directory and the C runtime's case-insensitive comparisons, all
// with the semantics Windows gives them.
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <memory>
#include <mutex>
#include <new>
#include <pthread.h>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "platform/posix/error_text.h"
#include "platform/win32.h"

namespace {

thread_local DWORD lastError = ERROR_SUCCESS;

// ---- Kernel objects and their handles.
//
// A HANDLE is the address of a kernel object the layer allocated. Every live handle is listed in
// one table, and the table is consulted before an object is touched, so a stale or made-up handle
// is reported as ERROR_INVALID_HANDLE instead of being followed. The table holds shared
// ownership: an object that one thread waits on stays alive when another thread closes its
// handle, as a Windows object lives on while a wait references it.

enum class ObjectType { kEvent };

struct KernelObject {
  explicit KernelObject(ObjectType objectType) : type(objectType) {}
  virtual ~KernelObject() = default;
  const ObjectType type;
};

struct Event final : KernelObject {
  Event(bool manual, bool initial)
      : KernelObject(ObjectType::kEvent), manualReset(manual), signaled(initial) {}
  std::mutex mutex;
  std::condition_variable changed;
  const bool manualReset;
  bool signaled;
};

class HandleTable {
 public:
  // Lists `object` and returns its handle. Throws std::bad_alloc.
  HANDLE Add(std::shared_ptr<KernelObject> object) {
    HANDLE handle = object.get();
    std::lock_guard<std::mutex> lock(mutex_);
    objects_.emplace(handle, std::move(object));
    return handle;
  }

  std::shared_ptr<KernelObject> Find(HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    return found == objects_.end() ? nullptr : found->second;
  }

  bool Remove(HANDLE handle) {
    std::shared_ptr<KernelObject> removed;  // released after the lock, outside the table's mutex
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = objects_.find(handle);
    if (found == objects_.end()) return false;
    removed = std::move(found->second);
    objects_.erase(found);
    return true;
  }

 private:
  std::mutex mutex_;
  std::unordered_map<HANDLE, std::shared_ptr<KernelObject>> objects_;
};

// The table is never destroyed: detached threads may still close handles while the process exits.
HandleTable& Handles() {
  static HandleTable* table = new HandleTable;
  return *table;
}

std::shared_ptr<Event> FindEvent(HANDLE handle) {
  std::shared_ptr<KernelObject> object = Handles().Find(handle);
  if (object == nullptr || object->type != ObjectType::kEvent) return nullptr;
  return std::static_pointer_cast<Event>(object);
}

// ---- Blocks handed out by FormatMessageA, to be released with LocalFree. They are listed so that
// LocalFree can refuse a pointer the layer did not allocate, as Windows refuses a bad HLOCAL.

std::mutex localBlocksMutex;
std::unordered_set<void*>& LocalBlocks() {
  static auto* blocks = new std::unordered_set<void*>;
  return *blocks;
}

// ---- Modules loaded with LoadLibraryA, so that GetProcAddress and GetModuleFileNameA can refuse a
// handle that dlsym or dlinfo would follow blindly.

std::mutex modulesMutex;
std::unordered_set<void*>& Modules() {
  static auto* modules = new std::unordered_set<void*>;
  return *modules;
}

bool IsLoadedModule(void* module) {
  std::lock_guard<std::mutex> lock(modulesMutex);
  return Modules().count(module) != 0;
}

// ---- FormatMessageA's expansion of a system text.

// Expands the escapes of a message text as FormatMessageA does: "%1".."%99" take the strings of
// `arguments` (an array, as FORMAT_MESSAGE_ARGUMENT_ARRAY passes them), "%%" a percent sign,
// "%n" a hard line break, "%0" ends the message without its final line break. With
// `ignoreInserts` the inserts are copied as they stand. A width of 0xFF (the whole
// FORMAT_MESSAGE_MAX_WIDTH_MASK) turns the text's own line breaks into spaces and keeps only the
// hard ones. Returns false when an insert has no argument to fill it.
bool ExpandMessage(const char* text, bool ignoreInserts, const ULONG_PTR* arguments, bool joinLines,
                   std::string& out) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (joinLines && p[0] == '\r' && p[1] == '\n') {
      out += ' ';
      ++p;
      continue;
    }
    if (*p != '%') {
      out += *p;
      continue;
    }
    const char next = p[1];
    if (next >= '1' && next <= '9') {
      int number = next - '0';
      const char* end = p + 2;
      if (*end >= '0' && *end <= '9') number = number * 10 + (*end++ - '0');
      if (ignoreInserts) {
        out.append(p, end);
      } else {
        if (arguments == nullptr) return false;
        const char* value = reinterpret_cast<const char*>(arguments[number - 1]);
        out += value != nullptr ? value : "(null)";
      }
      p = end - 1;
    } else if (next == '0') {
      // The message ends here, without the line break that would follow.
      while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
      return true;
    } else if (next == 'n') {
      out += "\r\n";
      ++p;
    } else if (next == '\0') {
      out += '%';
    } else {
      // "%%", "%.", "%!", "% " and the like stand for the character itself.
      out += next;
      ++p;
    }
  }
  return true;
}

// ---- SetCurrentDirectoryA's errors.

bool DirectoryExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Windows tells a missing last folder (ERROR_FILE_NOT_FOUND) from a missing folder above it
// (ERROR_PATH_NOT_FOUND), and a path naming a file (ERROR_DIRECTORY) from one that runs through a
// file (ERROR_PATH_NOT_FOUND).
DWORD DirectoryError(const char* path, int error) {
  std::string text(path);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  const size_t slash = text.find_last_of('/');
  const std::string parent = slash == std::string::npos
                                 ? std::string(".")
                                 : (slash == 0 ? std::string("/") : text.substr(0, slash));

  if (error == ENOENT) {
    if (text.empty()) return ERROR_PATH_NOT_FOUND;
    return DirectoryExists(parent) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
  }
  if (error == ENOTDIR) {
    struct stat info {};
    const bool isFile = stat(text.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
    return isFile && DirectoryExists(parent) ? ERROR_DIRECTORY : ERROR_PATH_NOT_FOUND;
  }
  return steward::posix::ErrorFromErrno(error);
}

// ---- _beginthread's start.

struct ThreadStart {
  void (*start)(void*);
  void* argument;
};

void* RunThread(void* raw) {
  std::unique_ptr<ThreadStart> start(static_cast<ThreadStart*>(raw));
  start->start(start->argument);
  return nullptr;
}

unsigned char FoldAscii(unsigned char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

}  // namespace

// ---- Last error.

DWORD WINAPI GetLastError(void) {
  return lastError;
}

void WINAPI SetLastError(DWORD code) {
  lastError = code;
}

// ---- Messages.

DWORD WINAPI FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId,
                            LPSTR buffer, DWORD size, void* arguments) {
  (void)source;      // with FORMAT_MESSAGE_FROM_HMODULE: no module of ours carries a message table
  (void)languageId;  // the layer knows English texts only, and gives them for every language
  const bool allocate = (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) != 0;
  if (allocate && buffer != nullptr) *reinterpret_cast<char**>(buffer) = nullptr;

  const DWORD width = flags & FORMAT_MESSAGE_MAX_WIDTH_MASK;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_FROM_STRING) != 0 ||
      buffer == nullptr || (width != 0 && width != FORMAT_MESSAGE_MAX_WIDTH_MASK)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const char* text = steward::posix::SystemErrorText(messageId);
  if (text == nullptr) {
    SetLastError(ERROR_MR_MID_NOT_FOUND);
    return 0;
  }

  try {
    // Inserts are filled only from an argument array; a va_list is not supported.
    const bool ignoreInserts = (flags & FORMAT_MESSAGE_IGNORE_INSERTS) != 0;
    const ULONG_PTR* array = (flags & FORMAT_MESSAGE_ARGUMENT_ARRAY) != 0
                                 ? static_cast<const ULONG_PTR*>(arguments)
                                 : nullptr;
    std::string message;
    if (!ExpandMessage(text, ignoreInserts, array, width == FORMAT_MESSAGE_MAX_WIDTH_MASK,
                       message)) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    const size_t length = message.size();

    if (allocate) {
      // `size` is the least number of characters to allocate.
      const size_t capacity = length + 1 > size ? length + 1 : size;
      char* block = static_cast<char*>(std::malloc(capacity));
      if (block == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
      }
      std::memcpy(block, message.c_str(), length + 1);
      try {
        std::lock_guard<std::mutex> lock(localBlocksMutex);
        LocalBlocks().insert(block);
      } catch (const std::bad_alloc&) {
        std::free(block);
        throw;
      }
      *reinterpret_cast<char**>(buffer) = block;
      return static_cast<DWORD>(length);
    }

    if (length + 1 > size) {
      if (size > 0) buffer[0] = '\0';
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return 0;
    }
    std::memcpy(buffer, message.c_str(), length + 1);
    return static_cast<DWORD>(length);
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

HLOCAL WINAPI LocalFree(HLOCAL block) {
  if (block == nullptr) return nullptr;
  {
    std::lock_guard<std::mutex> lock(localBlocksMutex);
    if (LocalBlocks().erase(block) == 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return block;
    }
  }
  std::free(block);
  return nullptr;
}

// ---- Modules.

DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR filename, DWORD size) {
  try {
    std::string path;
    if (module == nullptr) {
      std::vector<char> link(PATH_MAX);
      for (;;) {
        const ssize_t length = readlink("/proc/self/exe", link.data(), link.size());
        if (length < 0) {
          SetLastError(steward::posix::ErrorFromErrno(errno));
          return 0;
        }
        if (static_cast<size_t>(length) < link.size()) {
          path.assign(link.data(), static_cast<size_t>(length));
          break;
        }
        link.resize(link.size() * 2);
      }
    } else {
      link_map* map = nullptr;
      if (!IsLoadedModule(module) || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr ||
          map->l_name == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
      }
      char* resolved = realpath(map->l_name, nullptr);
      path = resolved != nullptr ? resolved : map->l_name;
      std::free(resolved);
    }

    // Windows' rule: a name that does not fit is cut to size - 1 characters and terminated, and
    // the call returns size with ERROR_INSUFFICIENT_BUFFER.
    if (path.size() + 1 > size) {
      if (size > 0 && filename != nullptr) {
        std::memcpy(filename, path.data(), size - 1);
        filename[size - 1] = '\0';
      }
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return size;
    }
    if (filename == nullptr) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return 0;
    }
    std::memcpy(filename, path.c_str(), path.size() + 1);
    return static_cast<DWORD>(path.size());
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
  }
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || fileName[0] == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  // Windows resolves a library's imports when it loads it, and a JVM library expects its symbols
  // to be visible to the libraries it loads in turn, as its own launcher arranges.
  void* module = dlopen(fileName, RTLD_NOW | RTLD_GLOBAL);
  if (module == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  try {
    std::lock_guard<std::mutex> lock(modulesMutex);
    Modules().insert(module);
  } catch (const std::bad_alloc&) {
    dlclose(module);
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return static_cast<HMODULE>(module);
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  // A name below 0x10000 is an ordinal; shared objects export no ordinals.
  if (procName == nullptr || reinterpret_cast<uintptr_t>(procName) <= 0xFFFF) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  void* handle = module;
  if (module == nullptr) {
    // As on Windows, no module means the program itself.
    handle = dlopen(nullptr, RTLD_NOW);
  } else if (!IsLoadedModule(module)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  dlerror();
  void* symbol = dlsym(handle, procName);
  if (symbol == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  FARPROC procedure = nullptr;
  static_assert(sizeof procedure == sizeof symbol, "function and data pointers differ in size");
  std::memcpy(&procedure, &symbol, sizeof procedure);
  return procedure;
}

// ---- Events.

HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES attributes, BOOL manualReset, BOOL initialState,
                           LPCSTR name) {
  (void)attributes;  // no child process inherits a handle of this layer
  // Named events would be shared between processes; this layer has none, and says so rather than
  // hand out a private event that another process could never open.
  if (name != nullptr && name[0] != '\0') {
    SetLastError(ERROR_NOT_SUPPORTED);
    return nullptr;
  }
  try {
    return Handles().Add(std::make_shared<Event>(manualReset != FALSE, initialState != FALSE));
  } catch (const std::bad_alloc&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
}

BOOL WINAPI SetEvent(HANDLE handle) {
  std::shared_ptr<Event> event = FindEvent(handle);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  {
    std::lock_guard<std::mutex> lock(event->mutex);
    event->signaled = true;
  }
  // A manual-reset event releases every waiter; an auto-reset one releases one, which resets it.
  if (event->manualReset) {
    event->changed.notify_all();
  } else {
    event->changed.notify_one();
  }
  return TRUE;
}

BOOL WINAPI ResetEvent(HANDLE handle) {
  std::shared_ptr<Event> event = FindEvent(handle);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  std::lock_guard<std::mutex> lock(event->mutex);
  event->signaled = false;
  return TRUE;
}

DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
  std::shared_ptr<Event> event = FindEvent(handle);
  if (event == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
  }
  std::unique_lock<std::mutex> lock(event->mutex);
  auto signaled = [&event] { return event->signaled; };
  if (milliseconds == INFINITE) {
    event->changed.wait(lock, signaled);
  } else if (!event->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), signaled)) {
    return WAIT_TIMEOUT;
  }
  if (!event->manualReset) event->signaled = false;
  return WAIT_OBJECT_0;
}

BOOL WINAPI CloseHandle(HANDLE handle) {
  if (!Handles().Remove(handle)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void WINAPI Sleep(DWORD milliseconds) {
  if (milliseconds == INFINITE) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
  }
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- Threads.

uintptr_t _beginthread(void (*start)(void*), unsigned stackSize, void* argument) {
  if (start == nullptr) {
    errno = EINVAL;
    return static_cast<uintptr_t>(-1);
  }
  // A POSIX thread rather than std::thread, so that the stack size the caller asks for is kept.
  pthread_attr_t attributes;
  if (pthread_attr_init(&attributes) != 0) {
    errno = EAGAIN;
    return static_cast<uintptr_t>(-1);
  }
  int result = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  if (result == 0 && stackSize != 0) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    size_t bytes = stackSize < static_cast<size_t>(PTHREAD_STACK_MIN)
                       ? static_cast<size_t>(PTHREAD_STACK_MIN)
                       : stackSize;
    bytes = (bytes + page - 1) / page * page;
    result = pthread_attr_setstacksize(&attributes, bytes);
  }
  ThreadStart* data = nullptr;
  pthread_t thread{};
  if (result == 0) {
    data = new (std::nothrow) ThreadStart{start, argument};
    result = data == nullptr ? EAGAIN : pthread_create(&thread, &attributes, RunThread, data);
  }
  pthread_attr_destroy(&attributes);
  if (result != 0) {
    delete data;
    errno = result;
    return static_cast<uintptr_t>(-1);
  }
  return static_cast<uintptr_t>(thread);
}

// ---- Directories and consoles.

BOOL WINAPI SetCurrentDirectoryA(LPCSTR pathName) {
  if (pathName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (chdir(pathName) != 0) {
    const int error = errno;
    try {
      SetLastError(DirectoryError(pathName, error));
    } catch (const std::bad_alloc&) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    }
    return FALSE;
  }
  return TRUE;
}

// A POSIX process has the terminal it was started with, or none, and cannot get one later.
// Windows refuses AllocConsole with ERROR_ACCESS_DENIED to a process that already has a console,
// which is the answer that lets a caller carry on with the standard streams it has.
BOOL WINAPI AllocConsole(void) {
  SetLastError(ERROR_ACCESS_DENIED);
  return FALSE;
}

// ---- The C runtime's case-insensitive comparisons, folding ASCII letters only whatever the
// locale, as the "C" locale does.

int _stricmp(const char* a, const char* b) {
  const auto* left = reinterpret_cast<const unsigned char*>(a);
  const auto* right = reinterpret_cast<const unsigned char*>(b);
  for (;; ++left, ++right) {
    const int difference = FoldAscii(*left) - FoldAscii(*right);
    if (difference != 0 || *left == '\0') return difference;
  }
}

int _strnicmp(const char* a, const char* b, size_t count) {
  const auto* left = reinterpret_cast<const unsigned char*>(a);
  const auto* right = reinterpret_cast<const unsigned char*>(b);
  for (; count > 0; --count, ++left, ++right) {
    const int difference = FoldAscii(*left) - FoldAscii(*right);
    if (difference != 0 || *left == '\0') return difference;
  }
  return 0;
}
