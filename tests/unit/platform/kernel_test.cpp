// The POSIX layer's kernel services, tried through the Win32 functions as a caller uses them.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// FormatMessageA's text for `code` in an allocated block, or "<error N>" when it fails.
std::string SystemText(DWORD code, DWORD extraFlags = FORMAT_MESSAGE_IGNORE_INSERTS,
                       const ULONG_PTR* arguments = nullptr) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | extraFlags, nullptr, code, 0,
      reinterpret_cast<LPSTR>(&text), 0, const_cast<void*>(static_cast<const void*>(arguments)));
  if (length == 0) {
    EXPECT_EQ(text, nullptr);
    return "<error " + std::to_string(GetLastError()) + ">";
  }
  std::string result(text, length);
  EXPECT_EQ(result.size(), std::strlen(text));
  EXPECT_EQ(LocalFree(text), nullptr);
  return result;
}

TEST(KernelTest, FormatMessageGivesWindowsTextsEndingInALineBreak) {
  struct Case {
    DWORD code;
    const char* text;
  };
  const Case cases[] = {
      {ERROR_SUCCESS, "The operation completed successfully.\r\n"},
      {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified.\r\n"},
      {ERROR_ACCESS_DENIED, "Access is denied.\r\n"},
      {ERROR_INVALID_PARAMETER, "The parameter is incorrect.\r\n"},
      {ERROR_MOD_NOT_FOUND, "The specified module could not be found.\r\n"},
      {ERROR_KEY_DELETED,
       "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
      {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
       "The service process could not connect to the service controller.\r\n"},
      {ERROR_SERVICE_EXISTS, "The specified service already exists.\r\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(SystemText(c.code), c.text) << c.code;

  // Without FORMAT_MESSAGE_ALLOCATE_BUFFER the caller's buffer receives the text...
  char buffer[64];
  const std::string denied = "Access is denied.\r\n";
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer,
                           static_cast<DWORD>(denied.size() + 1), nullptr),
            denied.size());
  EXPECT_EQ(std::string(buffer), denied);
  // ...unless it is too small for the text and its terminator.
  SetLastError(0);
  EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, ERROR_ACCESS_DENIED, 0, buffer,
                           static_cast<DWORD>(denied.size()), nullptr),
            0u);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));

  // The whole width mask keeps the text on one line, the line break turned into a space.
  EXPECT_EQ(SystemText(ERROR_ACCESS_DENIED,
                       FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK),
            "Access is denied. ");
}

TEST(KernelTest, FormatMessageOfAnUnknownCodeFailsWithMessageNotFound) {
  EXPECT_EQ(SystemText(0xDEAD), "<error 317>");
  EXPECT_EQ(SystemText(0x80070005u), "<error 317>");
  // The text of 317 itself has inserts: kept as they stand, or filled from an argument array.
  EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND),
            "The system cannot find message text for message number 0x%1 in the message file "
            "for %2.\r\n");
  const char* inserts[] = {"DEAD", "System"};
  const ULONG_PTR arguments[] = {reinterpret_cast<ULONG_PTR>(inserts[0]),
                                 reinterpret_cast<ULONG_PTR>(inserts[1])};
  EXPECT_EQ(SystemText(ERROR_MR_MID_NOT_FOUND, FORMAT_MESSAGE_ARGUMENT_ARRAY, arguments),
            "The system cannot find message text for message number 0xDEAD in the message file "
            "for System.\r\n");
}

TEST(KernelTest, EveryCodeTheLayerDefinesHasAText) {
  const DWORD codes[] = {
      ERROR_SUCCESS,
      ERROR_INVALID_FUNCTION,
      ERROR_FILE_NOT_FOUND,
      ERROR_PATH_NOT_FOUND,
      ERROR_TOO_MANY_OPEN_FILES,
      ERROR_ACCESS_DENIED,
      ERROR_INVALID_HANDLE,
      ERROR_NOT_ENOUGH_MEMORY,
      ERROR_INVALID_DATA,
      ERROR_OUTOFMEMORY,
      ERROR_GEN_FAILURE,
      ERROR_NOT_SUPPORTED,
      ERROR_INVALID_PARAMETER,
      ERROR_DISK_FULL,
      ERROR_CALL_NOT_IMPLEMENTED,
      ERROR_INSUFFICIENT_BUFFER,
      ERROR_INVALID_NAME,
      ERROR_MOD_NOT_FOUND,
      ERROR_PROC_NOT_FOUND,
      ERROR_BAD_PATHNAME,
      ERROR_ALREADY_EXISTS,
      ERROR_FILENAME_EXCED_RANGE,
      ERROR_MORE_DATA,
      ERROR_NO_MORE_ITEMS,
      ERROR_DIRECTORY,
      ERROR_MR_MID_NOT_FOUND,
      ERROR_BADDB,
      ERROR_BADKEY,
      ERROR_CANTOPEN,
      ERROR_CANTREAD,
      ERROR_CANTWRITE,
      ERROR_REGISTRY_IO_FAILED,
      ERROR_KEY_DELETED,
      ERROR_DEPENDENT_SERVICES_RUNNING,
      ERROR_INVALID_SERVICE_CONTROL,
      ERROR_SERVICE_REQUEST_TIMEOUT,
      ERROR_SERVICE_ALREADY_RUNNING,
      ERROR_SERVICE_DOES_NOT_EXIST,
      ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
      ERROR_SERVICE_NOT_ACTIVE,
      ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
      ERROR_SERVICE_SPECIFIC_ERROR,
      ERROR_PROCESS_ABORTED,
      ERROR_SERVICE_MARKED_FOR_DELETE,
      ERROR_SERVICE_EXISTS,
      RPC_S_SERVER_UNAVAILABLE,
      ERROR_CANT_RESOLVE_FILENAME,
  };
  for (DWORD code : codes) {
    const std::string text = SystemText(code);
    ASSERT_GT(text.size(), 3u) << code << ": " << text;
    EXPECT_EQ(text.substr(text.size() - 3), ".\r\n") << code;
    EXPECT_EQ(text.find("<error"), std::string::npos) << code;
  }
}

TEST(KernelTest, LocalFreeRefusesABlockItDidNotHandOut) {
  char block[8];
  SetLastError(0);
  EXPECT_EQ(LocalFree(block), static_cast<HLOCAL>(block));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(LocalFree(nullptr), nullptr);
}

TEST(KernelTest, LastErrorBelongsToEachThread) {
  SetLastError(ERROR_ACCESS_DENIED);
  DWORD seen = 99;
  std::thread other([&seen] {
    seen = GetLastError();
    SetLastError(ERROR_INVALID_HANDLE);
  });
  other.join();
  EXPECT_EQ(seen, static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
}

TEST(KernelTest, ManualResetEventStaysSignaledUntilReset) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelTest, AutoResetEventReleasesOneWaiterPerSignal) {
  HANDLE event = CreateEventA(nullptr, FALSE, TRUE, nullptr);  // created signaled
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // the wait consumed the signal

  std::atomic<int> released{0};
  std::thread waiters[2];
  for (std::thread& waiter : waiters) {
    waiter = std::thread([&] {
      if (WaitForSingleObject(event, 2000) == WAIT_OBJECT_0) ++released;
    });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  ASSERT_TRUE(SetEvent(event));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(released.load(), 1);
  ASSERT_TRUE(SetEvent(event));
  for (std::thread& waiter : waiters) waiter.join();
  EXPECT_EQ(released.load(), 2);
  EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelTest, WaitTimesOutAfterTheGivenTimeAndWakesOnSignal) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(event, nullptr);
  Clock::time_point start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 150), WAIT_TIMEOUT);
  EXPECT_GE(MillisecondsSince(start), 150);

  start = Clock::now();
  std::thread setter([event] {
    Sleep(100);
    SetEvent(event);
  });
  EXPECT_EQ(WaitForSingleObject(event, 10000), WAIT_OBJECT_0);
  EXPECT_GE(MillisecondsSince(start), 100);
  EXPECT_LT(MillisecondsSince(start), 5000);
  setter.join();
  EXPECT_TRUE(CloseHandle(event));
}

TEST(KernelTest, BadHandlesAreReportedNotFollowed) {
  HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  HANDLE made_up = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x4321));
  for (HANDLE handle : {event, made_up, static_cast<HANDLE>(nullptr)}) {
    SetLastError(0);
    EXPECT_FALSE(CloseHandle(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(handle, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_FALSE(SetEvent(handle));
    EXPECT_FALSE(ResetEvent(handle));
  }
  // Events shared by name between processes do not exist here.
  SetLastError(0);
  EXPECT_EQ(CreateEventA(nullptr, TRUE, FALSE, "Global\\Named"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_SUPPORTED));
}

TEST(KernelTest, BeginThreadRunsTheFunctionWithItsArgument) {
  HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ASSERT_NE(done, nullptr);
  const uintptr_t thread =
      _beginthread([](void* event) { SetEvent(static_cast<HANDLE>(event)); }, 256 * 1024, done);
  ASSERT_NE(thread, static_cast<uintptr_t>(-1));
  EXPECT_EQ(WaitForSingleObject(done, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(CloseHandle(done));
}

TEST(KernelTest, ModuleFileNameFollowsWindowsTruncationRule) {
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  char path[4096];
  EXPECT_EQ(GetModuleFileNameA(nullptr, path, sizeof path), self.size());
  EXPECT_EQ(std::string(path), self);

  char small[6];
  std::memset(small, 'x', sizeof small);
  SetLastError(0);
  EXPECT_EQ(GetModuleFileNameA(nullptr, small, sizeof small), sizeof small);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
  EXPECT_EQ(std::string(small), self.substr(0, sizeof small - 1));
}

TEST(KernelTest, LibrariesAndProceduresAreFoundOrReportedMissing) {
  HMODULE library = LoadLibraryA("libm.so.6");
  ASSERT_NE(library, nullptr);
  FARPROC cosine = GetProcAddress(library, "cos");
  ASSERT_NE(cosine, nullptr);
  // Through void (*)(void), the type that converts to any other function type without a warning.
  auto* function = reinterpret_cast<double (*)(double)>(reinterpret_cast<void (*)()>(cosine));
  EXPECT_EQ(function(0.0), 1.0);

  char path[4096];
  ASSERT_GT(GetModuleFileNameA(library, path, sizeof path), 0u);
  EXPECT_TRUE(std::filesystem::exists(path)) << path;

  SetLastError(0);
  EXPECT_EQ(GetProcAddress(library, "no_such_procedure"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(LoadLibraryA("/nonexistent/libnothing.so"), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  SetLastError(0);
  EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x5678)), "cos"),
            nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST(KernelTest, SetCurrentDirectoryGivesWindowsErrors) {
  char pattern[] = "/tmp/steward-kernel-XXXXXX";
  ASSERT_NE(mkdtemp(pattern), nullptr);
  const std::string base = pattern;
  std::ofstream(base + "/file") << "x";
  const std::filesystem::path previous = std::filesystem::current_path();

  struct Case {
    std::string path;
    DWORD error;
  };
  const Case cases[] = {
      {base + "/missing", ERROR_FILE_NOT_FOUND},
      {base + "/missing/deeper", ERROR_PATH_NOT_FOUND},
      {base + "/file", ERROR_DIRECTORY},
      {base + "/file/deeper", ERROR_PATH_NOT_FOUND},
  };
  for (const Case& c : cases) {
    SetLastError(0);
    EXPECT_FALSE(SetCurrentDirectoryA(c.path.c_str())) << c.path;
    EXPECT_EQ(GetLastError(), c.error) << c.path;
  }
  EXPECT_TRUE(SetCurrentDirectoryA(base.c_str()));
  EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(base));

  std::filesystem::current_path(previous);
  std::filesystem::remove_all(base);
}

TEST(KernelTest, CaseInsensitiveComparisonsFoldAsciiOnly) {
  struct Case {
    const char* a;
    const char* b;
    int sign;
  };
  const Case cases[] = {
      {"Steward", "sTEWARD", 0},
      {"abc", "abd", -1},
      {"abc", "ab", 1},
      {"_", "A", -1},        // compared in lower case, as the C runtime does: '_' < 'a'
      {"\xC4", "\xE4", -1},  // bytes above ASCII are not letters to fold
  };
  auto sign = [](int value) { return (value > 0) - (value < 0); };
  for (const Case& c : cases) {
    EXPECT_EQ(sign(_stricmp(c.a, c.b)), c.sign) << c.a << " " << c.b;
  }
  EXPECT_EQ(_strnicmp("JAVA_HOME=x", "java_home=y", 10), 0);
  EXPECT_LT(_strnicmp("JAVA_HOME=x", "java_home=y", 11), 0);
  EXPECT_EQ(_strnicmp("a", "b", 0), 0);
}

TEST(KernelTest, ConsoleAndServiceDispatcherAnswerAsWindowsDoesForAConsoleProgram) {
  SetLastError(0);
  EXPECT_FALSE(AllocConsole());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  char name[] = "steward";
  const SERVICE_TABLE_ENTRYA table[] = {{name, [](DWORD, LPSTR*) {}}, {nullptr, nullptr}};
  SetLastError(0);
  EXPECT_FALSE(StartServiceCtrlDispatcherA(table));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FAILED_SERVICE_CONTROLLER_CONNECT));
}

}  // namespace
