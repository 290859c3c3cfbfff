// A store root of its own for one test: a fresh temporary folder named by STEWARD_ROOT while the
// test runs, removed afterwards, with the previous STEWARD_ROOT put back.
#ifndef STEWARD_TESTS_UNIT_PLATFORM_STORE_ROOT_H
#define STEWARD_TESTS_UNIT_PLATFORM_STORE_ROOT_H

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

class StoreRootTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const char* previous = std::getenv("STEWARD_ROOT"); previous != nullptr) {
      previous_ = previous;
      hadPrevious_ = true;
    }
    char pattern[] = "/tmp/steward-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root_ = pattern;
    setenv("STEWARD_ROOT", root_.c_str(), 1);
  }

  void TearDown() override {
    chmod(root_.c_str(), 0700);  // A test may have made it read-only.
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    if (hadPrevious_) {
      setenv("STEWARD_ROOT", previous_.c_str(), 1);
    } else {
      unsetenv("STEWARD_ROOT");
    }
  }

  std::string root_;

 private:
  std::string previous_;
  bool hadPrevious_ = false;
};

#endif  // STEWARD_TESTS_UNIT_PLATFORM_STORE_ROOT_H
