// Finding the JVM library, against the real registry of each build.
#include "host/locator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/entry.h"
#include "core/registry.h"
#include "test_registry.h"

namespace {

const char kJavaSoft[] = "Software\\JavaSoft";
const char kIbm[] = "Software\\IBM";
const char kClassic[] = "Software\\JavaSoft\\Java Runtime Environment";
const char kIbmRuntime[] = "Software\\IBM\\Java2 Runtime Environment";
const char kModernJre[] = "Software\\JavaSoft\\JRE";
const char kModernJdk[] = "Software\\JavaSoft\\JDK";
const char kNoRegistry[] =
    "Cannot locate JavaSoft or IBM registry information. Is the JRE properly installed?\n";

struct Value {
  std::string key;
  const char* name;
  std::string data;
};

// One runtime's keys: CurrentVersion, and RuntimeLib (and MicroVersion) under the version.
std::vector<Value> Runtime(const std::string& key, const std::string& version,
                           const std::string& library, bool microVersion = true) {
  std::vector<Value> values = {{key, "CurrentVersion", version},
                               {key + "\\" + version, "RuntimeLib", library}};
  if (microVersion) values.push_back({key + "\\" + version, "MicroVersion", "0"});
  return values;
}

class Locator : public testing::Test {
 protected:
  void SetUp() override {
    DeleteRegistryTree(kJavaSoft);
    DeleteRegistryTree(kIbm);
    consoleMode = 1;  // The messages go to standard output, where the test reads them.
  }
  void TearDown() override {
    consoleMode = 0;
    DeleteRegistryTree(kJavaSoft);
    DeleteRegistryTree(kIbm);
  }

  static void Write(const std::vector<Value>& values) {
    for (const Value& value : values) {
      ASSERT_EQ(RegCreateKeyWithClass(HKEY_LOCAL_MACHINE, value.key.c_str()), 0);
      ASSERT_EQ(RegWriteString(value.data.c_str(), static_cast<DWORD>(value.data.size() + 1),
                               HKEY_LOCAL_MACHINE, value.key.c_str(), value.name),
                0);
    }
  }

  // Runs the locator; returns the path found (or "" on failure) and what it reported.
  static std::pair<std::string, std::string> Locate(const char* jvmLibrary) {
    char path[kLibraryPathSize] = "";
    testing::internal::CaptureStdout();
    const bool found = LocateRuntimeLibrary(jvmLibrary, path);
    const std::string reported = testing::internal::GetCapturedStdout();
    return {found ? path : "", reported};
  }
};

TEST_F(Locator, FindsTheRuntimeThatTheRegistryNames) {
  struct Case {
    const char* what;
    std::vector<Value> registry;
    std::string path;
    std::string reported;
  };
  auto both = [](std::vector<Value> a, const std::vector<Value>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const Case cases[] = {
      {"nothing installed", {}, "", kNoRegistry},
      {"JavaSoft", Runtime(kClassic, "1.8", "C:\\jre8\\bin\\server\\jvm.dll"),
       "C:\\jre8\\bin\\server\\jvm.dll", ""},
      {"IBM", Runtime(kIbmRuntime, "1.6", "C:\\ibm\\jvm.dll"), "C:\\ibm\\jvm.dll", ""},
      {"both vendors: JavaSoft first",
       both(Runtime(kIbmRuntime, "1.6", "C:\\ibm\\jvm.dll"),
            Runtime(kClassic, "1.8", "C:\\jre8\\jvm.dll")),
       "C:\\jre8\\jvm.dll", ""},
      {"JavaSoft without MicroVersion: no fallback to IBM",
       both(Runtime(kClassic, "1.8", "C:\\jre8\\jvm.dll", false),
            Runtime(kIbmRuntime, "1.6", "C:\\ibm\\jvm.dll")),
       "", "Cannot locate JRE 1.8 registry information. Is the JRE properly installed?\n"},
      {"empty CurrentVersion", {{kClassic, "CurrentVersion", ""}}, "", kNoRegistry},
      {"Java 9 and later: JRE", Runtime(kModernJre, "17", "C:\\jre17\\jvm.dll", false),
       "C:\\jre17\\jvm.dll", ""},
      {"Java 9 and later: JRE before JDK",
       both(Runtime(kModernJdk, "21", "C:\\jdk21\\jvm.dll", false),
            Runtime(kModernJre, "17", "C:\\jre17\\jvm.dll", false)),
       "C:\\jre17\\jvm.dll", ""},
      {"Java 9 and later: JDK", Runtime(kModernJdk, "21", "C:\\jdk21\\jvm.dll", false),
       "C:\\jdk21\\jvm.dll", ""},
      {"the older keys come first",
       both(Runtime(kModernJre, "17", "C:\\jre17\\jvm.dll", false),
            Runtime(kClassic, "1.8", "C:\\jre8\\jvm.dll")),
       "C:\\jre8\\jvm.dll", ""},
      {"Java 9 and later without RuntimeLib",
       {{kModernJre, "CurrentVersion", "17"}},
       "",
       "Cannot locate JRE 17 registry information. Is the JRE properly installed?\n"},
  };
  for (const Case& c : cases) {
    SetUp();
    Write(c.registry);
    const auto [path, reported] = Locate(nullptr);
    EXPECT_EQ(path, c.path) << c.what;
    EXPECT_EQ(reported, c.reported) << c.what;
  }
}

TEST_F(Locator, AGivenLibraryWinsAndIsNeverCut) {
  // With nothing installed the registry would fail: a given library is taken as it is.
  EXPECT_EQ(Locate("D:\\jre\\bin\\client\\jvm.dll"),
            std::make_pair(std::string("D:\\jre\\bin\\client\\jvm.dll"), std::string()));

  const std::string longest(kLibraryPathSize - 1, 'j');
  EXPECT_EQ(Locate(longest.c_str()).first, longest);

  const std::string tooLong(kLibraryPathSize, 'j');
  EXPECT_EQ(Locate(tooLong.c_str()),
            std::make_pair(std::string(),
                           std::string("The JVM library path given with jvmdll= is too long: 260 "
                                       "characters, at most 259 are allowed.\n")));
}

}  // namespace
