// The POSIX layer's registry, tried through the Win32 functions as a caller uses them.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32.h"
#include "store_root.h"

namespace {

// Each test has its own, empty store root.
class RegistryTest : public StoreRootTest {
 protected:
  void TearDown() override {
    for (HKEY key : opened_) RegCloseKey(key);
    StoreRootTest::TearDown();
  }

  // Creates (or opens) a key that is closed when the test ends.
  HKEY Create(HKEY root, const char* path, const char* keyClass = nullptr,
              DWORD* disposition = nullptr, REGSAM access = KEY_ALL_ACCESS) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, path, 0, const_cast<LPSTR>(keyClass), REG_OPTION_NON_VOLATILE,
                              access, nullptr, &key, disposition),
              ERROR_SUCCESS)
        << path;
    opened_.push_back(key);
    return key;
  }

  HKEY Open(HKEY root, const char* path, REGSAM access) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(root, path, 0, access, &key), ERROR_SUCCESS) << path;
    opened_.push_back(key);
    return key;
  }

 private:
  std::vector<HKEY> opened_;
};

LSTATUS SetBytes(HKEY key, const char* name, const std::string& bytes, DWORD type = REG_BINARY) {
  return RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                        static_cast<DWORD>(bytes.size()));
}

// The value's bytes, or "<error N>" when it cannot be read.
std::string GetBytes(HKEY key, const char* name) {
  DWORD size = 0;
  LSTATUS status = RegQueryValueExA(key, name, nullptr, nullptr, nullptr, &size);
  if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
  std::string bytes(size, '\0');
  status =
      RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<LPBYTE>(bytes.data()), &size);
  if (status != ERROR_SUCCESS) return "<error " + std::to_string(status) + ">";
  bytes.resize(size);
  return bytes;
}

// The names that enumerate(key, index, name, &size) gives, index by index, until it runs out.
template <typename Enumerate>
std::vector<std::string> Names(HKEY key, Enumerate enumerate) {
  std::vector<std::string> names;
  for (DWORD index = 0;; ++index) {
    char name[256];
    DWORD size = sizeof name;
    const LSTATUS status = enumerate(key, index, name, &size);
    if (status != ERROR_SUCCESS) {
      EXPECT_EQ(status, ERROR_NO_MORE_ITEMS);
      break;
    }
    names.emplace_back(name, size);
  }
  return names;
}

std::vector<std::string> SubkeyNames(HKEY key) {
  return Names(key, [](HKEY k, DWORD index, char* name, DWORD* size) {
    return RegEnumKeyExA(k, index, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

std::vector<std::string> ValueNames(HKEY key) {
  return Names(key, [](HKEY k, DWORD index, char* name, DWORD* size) {
    return RegEnumValueA(k, index, name, size, nullptr, nullptr, nullptr, nullptr);
  });
}

// Runs `body` in a child process, which reports what went wrong (nothing when all is well)
// through a pipe. Returns the child's pid and the pipe's reading end.
std::pair<pid_t, int> StartChild(const std::function<std::string()>& body) {
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return {-1, -1};
  const pid_t pid = fork();
  if (pid == 0) {
    close(pipeEnds[0]);
    const std::string report = body();
    if (!report.empty() && write(pipeEnds[1], report.data(), report.size()) < 0) _exit(2);
    _exit(0);
  }
  close(pipeEnds[1]);
  return {pid, pipeEnds[0]};
}

std::string FinishChild(std::pair<pid_t, int> child) {
  if (child.first < 0) return "could not start a child process";
  std::string report;
  char buffer[512];
  ssize_t count;
  while ((count = read(child.second, buffer, sizeof buffer)) > 0) report.append(buffer, count);
  close(child.second);
  int status = 0;
  waitpid(child.first, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) report += " [child ended abnormally]";
  return report;
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheCaseTheyWereCreatedWith) {
  DWORD disposition = 0;
  HKEY created = Create(HKEY_LOCAL_MACHINE, "Software\\Steward\\Params", nullptr, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY));
  ASSERT_EQ(SetBytes(created, "JavaHome", "/opt/jdk"), ERROR_SUCCESS);

  Create(HKEY_LOCAL_MACHINE, "SOFTWARE\\steward\\PARAMS", nullptr, &disposition);
  EXPECT_EQ(disposition, static_cast<DWORD>(REG_OPENED_EXISTING_KEY));

  HKEY reopened = Open(HKEY_LOCAL_MACHINE, "software\\STEWARD\\params", KEY_ALL_ACCESS);
  EXPECT_EQ(GetBytes(reopened, "JAVAHOME"), "/opt/jdk");
  // Setting the value under another case replaces it and keeps the first name.
  ASSERT_EQ(SetBytes(reopened, "javahome", "/usr/lib/jvm"), ERROR_SUCCESS);
  EXPECT_EQ(ValueNames(reopened), std::vector<std::string>({"JavaHome"}));
  EXPECT_EQ(GetBytes(created, "JavaHome"), "/usr/lib/jvm");

  EXPECT_EQ(SubkeyNames(Open(HKEY_LOCAL_MACHINE, "SOFTWARE", KEY_READ)),
            std::vector<std::string>({"Steward"}));
  // The roots are separate trees.
  HKEY other = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_READ, &other),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryTest, ClassIsGivenToTheNamedKeyWhenItIsCreatedOnly) {
  HKEY first = Create(HKEY_LOCAL_MACHINE, "Software\\Classy", "FirstClass");
  Create(HKEY_LOCAL_MACHINE, "Software\\Classy", "SecondClass");

  char keyClass[64];
  DWORD classSize = sizeof keyClass;
  DWORD subKeys = 99;
  DWORD values = 99;
  ASSERT_EQ(RegQueryInfoKeyA(first, keyClass, &classSize, nullptr, &subKeys, nullptr, nullptr,
                             &values, nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(keyClass, classSize), "FirstClass");
  EXPECT_EQ(subKeys, 0u);
  EXPECT_EQ(values, 0u);

  // The key made on the way to the named one has no class.
  HKEY software = Open(HKEY_LOCAL_MACHINE, "Software", KEY_READ);
  char name[64];
  DWORD nameSize = sizeof name;
  classSize = sizeof keyClass;
  ASSERT_EQ(RegEnumKeyExA(software, 0, name, &nameSize, nullptr, keyClass, &classSize, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, nameSize), "Classy");
  EXPECT_EQ(std::string(keyClass, classSize), "FirstClass");
  HKEY root = Open(HKEY_LOCAL_MACHINE, nullptr, KEY_READ);
  nameSize = sizeof name;
  classSize = sizeof keyClass;
  ASSERT_EQ(RegEnumKeyExA(root, 0, name, &nameSize, nullptr, keyClass, &classSize, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(std::string(name, nameSize), "Software");
  EXPECT_EQ(classSize, 0u);
}

TEST_F(RegistryTest, ValuesEnumerateInCreationOrderAndSubkeysInWindowsOrder) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Order");
  for (const char* name : {"b", "A", "c", "Zeta"})
    ASSERT_EQ(SetBytes(key, name, name), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(key, "a", "again"), ERROR_SUCCESS);  // keeps its place
  ASSERT_EQ(RegDeleteValueA(key, "B"), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(key, "b", "new"), ERROR_SUCCESS);  // created anew: goes last
  EXPECT_EQ(ValueNames(key), std::vector<std::string>({"A", "c", "Zeta", "b"}));

  // Windows sorts subkeys with letters in upper case, so '_' (0x5F) comes after every letter.
  for (const char* name : {"beta", "_under", "Alpha", "gamma", "BETA2"}) {
    Create(key, name);
  }
  EXPECT_EQ(SubkeyNames(key),
            std::vector<std::string>({"Alpha", "beta", "BETA2", "gamma", "_under"}));
}

TEST_F(RegistryTest, QueryValueFollowsWindowsSizingRules) {
  HKEY key = Create(HKEY_CURRENT_USER, "Software\\Sizes");
  const std::string binary("\x01\x00\x02\xff", 4);
  ASSERT_EQ(SetBytes(key, "Binary", binary), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(key, nullptr, "default", REG_SZ), ERROR_SUCCESS);
  ASSERT_EQ(SetBytes(key, "Empty", ""), ERROR_SUCCESS);

  struct Case {
    const char* name;
    bool withBuffer;
    DWORD bufferSize;
    LSTATUS status;
    DWORD sizeAfter;
  };
  const Case cases[] = {
      {"Binary", false, 0, ERROR_SUCCESS, 4},   // no buffer: the size needed
      {"Binary", true, 3, ERROR_MORE_DATA, 4},  // too small: the size needed
      {"Binary", true, 4, ERROR_SUCCESS, 4},    // exact fit
      {"binary", true, 100, ERROR_SUCCESS, 4},  // larger: the size stored
      {"", true, 100, ERROR_SUCCESS, 7},        // "" is the default value...
      {nullptr, true, 100, ERROR_SUCCESS, 7},   // ...and so is NULL
      {"Empty", true, 100, ERROR_SUCCESS, 0},   // an empty value exists
      {"Missing", true, 100, ERROR_FILE_NOT_FOUND, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name != nullptr ? c.name : "(null)");
    char buffer[100];
    DWORD size = c.bufferSize;
    DWORD type = 99;
    EXPECT_EQ(RegQueryValueExA(key, c.name, nullptr, &type,
                               c.withBuffer ? reinterpret_cast<LPBYTE>(buffer) : nullptr, &size),
              c.status);
    EXPECT_EQ(size, c.sizeAfter);
    if (c.status != ERROR_FILE_NOT_FOUND) {
      EXPECT_EQ(type,
                static_cast<DWORD>(c.name != nullptr && c.name[0] != '\0' ? REG_BINARY : REG_SZ));
    }
  }
  EXPECT_EQ(GetBytes(key, "Binary"), binary);  // bytes come back exactly as stored

  // RegEnumValueA sizes the name and the data the same way.
  char name[4];
  DWORD nameSize = sizeof name;
  DWORD dataSize = 0;
  EXPECT_EQ(RegEnumValueA(key, 0, name, &nameSize, nullptr, nullptr, nullptr, &dataSize),
            ERROR_MORE_DATA);  // "Binary" does not fit in 4 characters
  char longName[16];
  nameSize = sizeof longName;
  BYTE data[2];
  dataSize = sizeof data;
  EXPECT_EQ(RegEnumValueA(key, 0, longName, &nameSize, nullptr, nullptr, data, &dataSize),
            ERROR_MORE_DATA);
  EXPECT_EQ(dataSize, 4u);
  EXPECT_EQ(RegEnumValueA(key, 3, longName, &nameSize, nullptr, nullptr, nullptr, nullptr),
            ERROR_NO_MORE_ITEMS);

  DWORD values = 0;
  DWORD maxName = 0;
  DWORD maxData = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             &maxName, &maxData, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, 3u);
  EXPECT_EQ(maxName, 6u);  // "Binary"
  EXPECT_EQ(maxData, 7u);  // "default"
}

TEST_F(RegistryTest, DeleteKeyRefusesAKeyWithSubkeysAndRemovesItsValues) {
  HKEY parent = Create(HKEY_LOCAL_MACHINE, "Software\\Parent");
  HKEY child = Create(parent, "Child");
  ASSERT_EQ(SetBytes(child, "Value", "x"), ERROR_SUCCESS);

  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Parent"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteKeyA(parent, "CHILD"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_FILE_NOT_FOUND);
  // The handle still open to the deleted key sees it gone.
  EXPECT_EQ(GetBytes(child, "Value"), "<error 1018>");
  EXPECT_EQ(SetBytes(child, "Value", "y"), ERROR_KEY_DELETED);

  // A key made again under the same name starts empty.
  HKEY again = Create(parent, "Child");
  EXPECT_EQ(GetBytes(again, "Value"), "<error 2>");
  EXPECT_EQ(RegDeleteKeyA(parent, "Child"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Parent"), ERROR_SUCCESS);
  EXPECT_EQ(RegDeleteValueA(parent, "Value"), ERROR_KEY_DELETED);
}

TEST_F(RegistryTest, AccessRightsOfTheHandleAreEnforced) {
  Create(HKEY_LOCAL_MACHINE, "Software\\Guarded\\Existing");
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Guarded");
  ASSERT_EQ(SetBytes(key, "Value", "v"), ERROR_SUCCESS);

  HKEY readOnly = Open(HKEY_LOCAL_MACHINE, "Software\\Guarded", KEY_READ);
  HKEY writeOnly = Open(HKEY_LOCAL_MACHINE, "Software\\Guarded", KEY_SET_VALUE);
  HKEY created = nullptr;
  EXPECT_EQ(SetBytes(readOnly, "Value", "w"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegDeleteValueA(readOnly, "Value"), ERROR_ACCESS_DENIED);
  EXPECT_EQ(RegCreateKeyExA(readOnly, "New", 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(GetBytes(readOnly, "Value"), "v");
  EXPECT_EQ(SubkeyNames(readOnly), std::vector<std::string>({"Existing"}));
  // Opening an existing subkey needs no right to create one.
  Create(readOnly, "Existing", nullptr, nullptr, KEY_READ);

  EXPECT_EQ(GetBytes(writeOnly, "Value"), "<error 5>");
  char name[16];
  DWORD size = sizeof name;
  EXPECT_EQ(RegEnumKeyExA(writeOnly, 0, name, &size, nullptr, nullptr, nullptr, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_EQ(SetBytes(writeOnly, "Value", "w"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, HandlesAreValidated) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Handles", 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr),
            ERROR_SUCCESS);
  HKEY copy = key;
  ASSERT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(copy), ERROR_INVALID_HANDLE);
  EXPECT_EQ(GetBytes(copy, "x"), "<error 6>");
  HKEY made_up = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x1234));
  EXPECT_EQ(SetBytes(made_up, "x", "y"), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegCloseKey(HKEY_LOCAL_MACHINE), ERROR_SUCCESS);  // predefined keys may be closed
}

TEST_F(RegistryTest, MalformedNamesAreRefused) {
  const std::string longKey(256, 'k');
  const std::string longValue(16384, 'v');
  struct Case {
    std::string path;
    LSTATUS status;
  };
  const Case cases[] = {
      {"\\Software", ERROR_BAD_PATHNAME},
      {"Software\\\\Twice", ERROR_BAD_PATHNAME},
      {"Software\\" + longKey, ERROR_INVALID_PARAMETER},
      {"Software\\" + longKey.substr(1) + "\\", ERROR_SUCCESS},  // 255 characters, trailing '\'
  };
  for (const Case& c : cases) {
    HKEY key = nullptr;
    EXPECT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, c.path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              c.status)
        << c.path.substr(0, 20);
    if (key != nullptr) RegCloseKey(key);
  }
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software");
  EXPECT_EQ(SetBytes(key, longValue.c_str(), "x"), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(SetBytes(key, longValue.substr(1).c_str(), "x"), ERROR_SUCCESS);
}

TEST_F(RegistryTest, AStoreThatDoesNotExistReadsAsEmptyAndIsNotCreatedByReading) {
  const std::string missing = root_ + "/not/yet";
  setenv("STEWARD_ROOT", missing.c_str(), 1);

  HKEY key = nullptr;
  EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key, nullptr);
  HKEY root = Open(HKEY_LOCAL_MACHINE, "", KEY_READ);
  EXPECT_TRUE(SubkeyNames(root).empty());
  EXPECT_EQ(GetBytes(HKEY_LOCAL_MACHINE, "x"), "<error 2>");
  EXPECT_EQ(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software"), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(std::filesystem::exists(missing));

  // The first write creates the store.
  Create(HKEY_LOCAL_MACHINE, "Software");
  EXPECT_TRUE(std::filesystem::exists(missing + "/registry.db"));
}

TEST_F(RegistryTest, AStoreThatMayNotBeWrittenCanStillBeRead) {
  HKEY key = Create(HKEY_LOCAL_MACHINE, "Software\\Shared");
  ASSERT_EQ(SetBytes(key, "Value", "readable"), ERROR_SUCCESS);
  ASSERT_EQ(chmod(root_.c_str(), 0555), 0);

  // The checks run in a child that has no right to write the root: the superuser, who may write
  // anywhere, becomes "nobody" first.
  const std::string report = FinishChild(StartChild([]() -> std::string {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return "cannot drop root";
    std::string failures;
    auto expect = [&failures](bool good, const char* what) {
      if (!good) failures += std::string(what) + "; ";
    };
    HKEY readKey = nullptr;
    expect(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, KEY_READ, &readKey) ==
               ERROR_SUCCESS,
           "open for reading");
    char data[32] = {};
    DWORD size = sizeof data;
    expect(RegQueryValueExA(readKey, "Value", nullptr, nullptr, reinterpret_cast<LPBYTE>(data),
                            &size) == ERROR_SUCCESS &&
               std::string(data, size) == "readable",
           "read the value");
    HKEY writeKey = nullptr;
    expect(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, KEY_WRITE, &writeKey) ==
               ERROR_ACCESS_DENIED,
           "open for writing is refused");
    expect(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Shared", 0, nullptr, 0, KEY_READ, nullptr,
                           &writeKey, nullptr) == ERROR_SUCCESS,
           "RegCreateKeyExA opens an existing key for reading");
    expect(RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\New", 0, nullptr, 0, KEY_READ, nullptr,
                           &writeKey, nullptr) == ERROR_ACCESS_DENIED,
           "creating a key is refused");
    const BYTE byte = 1;
    expect(
        RegSetValueExA(HKEY_LOCAL_MACHINE, "Value", 0, REG_BINARY, &byte, 1) == ERROR_ACCESS_DENIED,
        "setting a value through a predefined key is refused");
    expect(RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Software\\Shared") == ERROR_ACCESS_DENIED,
           "deleting a key is refused");
    return failures;
  }));
  EXPECT_EQ(report, "");
  EXPECT_EQ(GetBytes(key, "Value"), "readable");
}

TEST_F(RegistryTest, ConcurrentWritersInSeveralProcessesAndThreadsLoseNothing) {
  // Two processes, two threads each, start on a store that does not exist yet, so they also race
  // to create it.
  constexpr int kProcesses = 2;
  constexpr int kThreads = 2;
  constexpr int kValues = 100;
  std::vector<std::pair<pid_t, int>> children;
  for (int process = 0; process < kProcesses; ++process) {
    children.push_back(StartChild([process]() -> std::string {
      std::string failures;
      std::vector<std::thread> threads;
      std::mutex failuresMutex;
      for (int thread = 0; thread < kThreads; ++thread) {
        threads.emplace_back([&, thread] {
          HKEY key = nullptr;
          LSTATUS status = RegCreateKeyExA(HKEY_LOCAL_MACHINE, "Software\\Race", 0, nullptr, 0,
                                           KEY_ALL_ACCESS, nullptr, &key, nullptr);
          for (int i = 0; status == ERROR_SUCCESS && i < kValues; ++i) {
            const std::string name = "p" + std::to_string(process) + "t" + std::to_string(thread) +
                                     "v" + std::to_string(i);
            status = SetBytes(key, name.c_str(), name);
          }
          RegCloseKey(key);
          if (status != ERROR_SUCCESS) {
            std::lock_guard<std::mutex> lock(failuresMutex);
            failures += "status " + std::to_string(status) + "; ";
          }
        });
      }
      for (std::thread& thread : threads) thread.join();
      return failures;
    }));
  }
  for (auto& child : children) EXPECT_EQ(FinishChild(child), "");

  HKEY key = Open(HKEY_LOCAL_MACHINE, "Software\\Race", KEY_READ);
  DWORD values = 0;
  ASSERT_EQ(RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(values, static_cast<DWORD>(kProcesses * kThreads * kValues));
  for (int process = 0; process < kProcesses; ++process) {
    for (int thread = 0; thread < kThreads; ++thread) {
      for (int i = 0; i < kValues; ++i) {
        const std::string name =
            "p" + std::to_string(process) + "t" + std::to_string(thread) + "v" + std::to_string(i);
        ASSERT_EQ(GetBytes(key, name.c_str()), name);
      }
    }
  }
}

}  // namespace
