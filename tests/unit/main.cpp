// Runs the unit tests. On POSIX systems the platform layer keeps the registry and event log
// under a store root; unless the caller chose one, the run gets a fresh temporary root, removed
// afterwards, so the tests never touch a user's own store.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
#ifndef _WIN32
  std::string temporaryRoot;
  if (std::getenv("STEWARD_ROOT") == nullptr) {
    char root[] = "/tmp/steward-unit-XXXXXX";
    if (mkdtemp(root) != nullptr) {
      temporaryRoot = root;
      setenv("STEWARD_ROOT", root, 1);
    }
  }
  const int result = RUN_ALL_TESTS();
  if (!temporaryRoot.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(temporaryRoot, ignored);
  }
  return result;
#else
  return RUN_ALL_TESTS();
#endif
}
