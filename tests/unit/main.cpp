// Runs the unit tests. On POSIX systems the platform layer keeps the registry and event log
// under a store root; unless the caller chose one, the run gets a fresh temporary root so the
// tests never touch a user's own store.
#include <gtest/gtest.h>

#include <cstdlib>

#ifndef _WIN32
#include <unistd.h>
#endif

int main(int argc, char** argv) {
#ifndef _WIN32
  if (std::getenv("STEWARD_ROOT") == nullptr) {
    static char root[] = "/tmp/steward-unit-XXXXXX";
    if (mkdtemp(root) != nullptr) setenv("STEWARD_ROOT", root, 1);
  }
#endif
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
