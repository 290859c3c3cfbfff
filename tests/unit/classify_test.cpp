#include "params/classify.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Sorted {
  std::vector<std::string> options;
  std::vector<std::string> arguments;
  const char* workingDirectory;
  const char* mainClass;
  const char* jvmLibrary;
};

std::vector<std::string> Entries(const StringList& list) {
  return std::vector<std::string>(list.entries, list.entries + list.count);
}

void ExpectSetting(const char* found, const char* expected, const char* keyword) {
  if (expected == nullptr) {
    EXPECT_EQ(found, nullptr) << keyword;
  } else {
    ASSERT_NE(found, nullptr) << keyword;
    EXPECT_STREQ(found, expected) << keyword;
  }
}

TEST(Classification, SortsEntriesIntoOptionsArgumentsAndSettings) {
  struct Case {
    std::vector<const char*> input;
    Sorted sorted;
  };
  const Case cases[] = {
      {{"-Xmx256m", "-Dapp.home=C:\\app", "mainclass=com/acme/Main", "start", "/Dx=1"},
       {{"-Xmx256m", "-Dapp.home=C:\\app", "/Dx=1"}, {"start"}, nullptr, "com/acme/Main", nullptr}},
      // Only upper-case D and X make options; setting keywords ignore case.
      {{"-xmx256m", "-dflag", "/x", "MAINCLASS=Foo", "JvmDll=C:\\jvm.dll", "WRKDIR=D:\\w"},
       {{}, {"-xmx256m", "-dflag", "/x"}, "D:\\w", "Foo", "C:\\jvm.dll"}},
      // A class path reaches the VM only as a -D option.
      {{"-classpath", "a.jar", "-cp", "-Djava.class.path=C:\\app\\lib\\app.jar"},
       {{"-Djava.class.path=C:\\app\\lib\\app.jar"},
        {"-classpath", "a.jar", "-cp"},
        nullptr,
        nullptr,
        nullptr}},
      // A keyword alone is neither a setting nor an argument; a later one with a value counts.
      {{"wrkdir=", "mainclass=", "mainclass=First", "mainclass=Second", "jvmdll="},
       {{}, {}, nullptr, "First", nullptr}},
      {{"-X", "-D", "/X", "/D", "-", "/", "X"},
       {{"-X", "-D", "/X", "/D"}, {"-", "/", "X"}, nullptr, nullptr, nullptr}},
      {{}, {{}, {}, nullptr, nullptr, nullptr}},
  };
  for (const Case& c : cases) {
    const auto count = static_cast<std::uint32_t>(c.input.size());
    StringList options;
    StringList arguments;
    CollectJavaOptions(count, c.input.data(), options);
    CollectProgramArguments(count, c.input.data(), arguments);
    EXPECT_EQ(Entries(options), c.sorted.options);
    EXPECT_EQ(Entries(arguments), c.sorted.arguments);
    if (c.sorted.options.empty()) {
      EXPECT_EQ(options.entries, nullptr);
    }
    if (c.sorted.arguments.empty()) {
      EXPECT_EQ(arguments.entries, nullptr);
    }
    ExpectSetting(FindSetting(count, c.input.data(), KEYWORD_WORKING_DIRECTORY),
                  c.sorted.workingDirectory, KEYWORD_WORKING_DIRECTORY);
    ExpectSetting(FindSetting(count, c.input.data(), KEYWORD_MAIN_CLASS), c.sorted.mainClass,
                  KEYWORD_MAIN_CLASS);
    ExpectSetting(FindSetting(count, c.input.data(), KEYWORD_JVM_LIBRARY), c.sorted.jvmLibrary,
                  KEYWORD_JVM_LIBRARY);
  }
}

TEST(Classification, SettingsPointIntoTheInputAndListsAreCopies) {
  char entry[] = "mainclass=A";
  char option[] = "-Dx=1";
  const char* input[] = {entry, option};
  EXPECT_EQ(FindSetting(2, input, KEYWORD_MAIN_CLASS), entry + 10);

  StringList options;
  CollectJavaOptions(2, input, options);
  option[2] = 'y';
  ASSERT_EQ(options.count, 1u);
  EXPECT_STREQ(options.entries[0], "-Dx=1");
}

}  // namespace
