// The registry helpers against the real registry of each build: the project's own store on
// POSIX systems, the system's (or Wine's) registry on Windows.
#include "core/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "test_registry.h"

namespace {

class RegistryHelpers : public testing::Test {
 protected:
  void SetUp() override {
    const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
    path_ = std::string("Software\\StewardUnitTest\\") + test->name();
    DeleteRegistryTree(path_);
  }
  void TearDown() override { DeleteRegistryTree(path_); }

  static std::string KeyClass(const std::string& path) {
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
    char keyClass[64] = "";
    DWORD length = sizeof keyClass;
    EXPECT_EQ(RegQueryInfoKeyA(key, keyClass, &length, nullptr, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    RegCloseKey(key);
    return keyClass;
  }

  void SetRaw(const char* name, DWORD type, const void* data, DWORD size) {
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_WRITE, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }

  std::string path_;
};

TEST_F(RegistryHelpers, NewKeyCarriesLocalSystemClassAndExistingKeyKeepsItsValues) {
  const std::string child = path_ + "\\Parent\\Child";
  ASSERT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, child.c_str()), 0);
  EXPECT_EQ(KeyClass(child), "LocalSystem");

  // Creating a key that exists succeeds and leaves its values alone. (Whether the class of an
  // existing key is kept is the registry's own affair: Windows keeps it, Wine replaces it.)
  const std::string other = path_ + "\\Other";
  HKEY key = nullptr;
  char otherClass[] = "Another";
  ASSERT_EQ(RegCreateKeyExA(HKEY_LOCAL_MACHINE, other.c_str(), 0, otherClass,
                            REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegCloseKey(key);
  ASSERT_EQ(RegWriteString("kept", 5, HKEY_LOCAL_MACHINE, other.c_str(), "Value"), 0);
  EXPECT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, other.c_str()), 0);
  char buffer[16];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, other.c_str(), "Value"), 0);
  EXPECT_STREQ(buffer, "kept");
}

TEST_F(RegistryHelpers, WrittenStringsAndDwordsReadBack) {
  ASSERT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, path_.c_str()), 0);
  const char text[] = "mainclass=A\t-Xmx64m";
  ASSERT_EQ(RegWriteString(text, sizeof text, HKEY_LOCAL_MACHINE, path_.c_str(), "AppParameters"),
            0);
  ASSERT_EQ(RegWriteDword(4, HKEY_LOCAL_MACHINE, path_.c_str(), "TypesSupported"), 0);

  char buffer[64];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "appparameters"), 0);
  EXPECT_STREQ(buffer, text);
  EXPECT_EQ(size, sizeof text);

  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, path_.c_str(), 0, KEY_READ, &key), ERROR_SUCCESS);
  DWORD type = REG_NONE;
  DWORD value = 0;
  DWORD valueSize = sizeof value;
  EXPECT_EQ(RegQueryValueExA(key, "TypesSupported", nullptr, &type, reinterpret_cast<BYTE*>(&value),
                             &valueSize),
            ERROR_SUCCESS);
  RegCloseKey(key);
  EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(value, 4u);
}

TEST_F(RegistryHelpers, ReadsOnlyStringsThatFit) {
  ASSERT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, path_.c_str()), 0);
  const DWORD number = 7;
  SetRaw("Number", REG_DWORD, &number, sizeof number);
  const char expand[] = "%SystemRoot%\\jvm.dll";
  SetRaw("Expand", REG_EXPAND_SZ, expand, sizeof expand);
  SetRaw("Long", REG_SZ, "0123456789", 11);

  char buffer[64];
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Number"), 1);

  size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Expand"), 0);
  EXPECT_STREQ(buffer, expand);

  size = 8;  // Too small for the value.
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Long"), 1);

  size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Missing"), 1);

  const std::string missing = path_ + "\\Missing";
  size = 12345;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, missing.c_str(), "Long"), 1);
  EXPECT_EQ(size, 12345u);

  EXPECT_EQ(RegWriteString("x", 2, HKEY_LOCAL_MACHINE, missing.c_str(), "Value"), 1);
  EXPECT_EQ(RegWriteDword(1, HKEY_LOCAL_MACHINE, missing.c_str(), "Value"), 1);
}

TEST_F(RegistryHelpers, StringStoredWithoutTerminatorComesBackTerminated) {
  ASSERT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, path_.c_str()), 0);
  SetRaw("Bare", REG_SZ, "abc", 3);

  char buffer[8];
  std::memset(buffer, 'x', sizeof buffer);
  DWORD size = sizeof buffer;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Bare"), 0);
  EXPECT_STREQ(buffer, "abc");

  // With no room left for a terminator the value is refused rather than read past its end.
  std::memset(buffer, 'x', sizeof buffer);
  size = 3;
  EXPECT_EQ(RegReadString(buffer, &size, HKEY_LOCAL_MACHINE, path_.c_str(), "Bare"), 1);
}

}  // namespace
