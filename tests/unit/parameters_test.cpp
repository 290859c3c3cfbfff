#include "params/parameters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Entries(const StringList& list) {
  return std::vector<std::string>(list.entries, list.entries + list.count);
}

std::vector<const char*> Argv(const std::vector<std::string>& args) {
  std::vector<const char*> argv;
  for (const std::string& arg : args) argv.push_back(arg.c_str());
  return argv;
}

struct JoinCase {
  std::vector<std::string> argv;
  int start;
  const char* joined;  // null: nothing is joined
};

TEST(JoinParameters, JoinsFromStartWithTabs) {
  const JoinCase cases[] = {
      {{"p", "-i", "S"}, 3, nullptr},
      {{"p", "-i", "S", "mainclass=A", "-Xmx64m"}, 3, "mainclass=A\t-Xmx64m"},
      {{"p", "-i", "S", "one"}, 3, "one"},
      {{"p", "-i", "S", "a", "", "b"}, 3, "a\t\tb"},
      {{"p", "-i", "S", "with space", "x"}, 3, "with space\tx"},
  };
  for (const JoinCase& c : cases) {
    char out[kParameterStringSize] = "untouched";
    std::vector<const char*> argv = Argv(c.argv);
    const char* result =
        JoinParameters(out, sizeof out, c.start, static_cast<int>(argv.size()), argv.data());
    if (c.joined == nullptr) {
      EXPECT_EQ(result, nullptr);
      EXPECT_STREQ(out, "untouched");
    } else {
      EXPECT_EQ(result, out);
      EXPECT_STREQ(out, c.joined);
    }
  }
}

TEST(JoinParameters, RefusesWhatCannotBeStoredWhole) {
  // 8191 characters fill the string exactly with the terminator; one more does not fit, and
  // neither does the same length spread over two parameters with the tab between them.
  const std::string fits(kParameterStringSize - 1, 'x');
  const std::string too_long(kParameterStringSize, 'x');
  const std::string half(kParameterStringSize / 2, 'y');
  struct Case {
    std::vector<std::string> parameters;
    ParameterProblem problem;
  };
  const Case cases[] = {
      {{fits}, ParameterProblem::kNone},
      {{too_long}, ParameterProblem::kTooLong},
      {{half, std::string(kParameterStringSize / 2 - 2, 'z')}, ParameterProblem::kNone},
      {{half, std::string(kParameterStringSize / 2 - 1, 'z')}, ParameterProblem::kTooLong},
      {{"a", "tab\there"}, ParameterProblem::kContainsTab},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"p", "-i", "S"};
    args.insert(args.end(), c.parameters.begin(), c.parameters.end());
    std::vector<const char*> argv = Argv(args);
    const int argc = static_cast<int>(argv.size());
    int offending = -1;
    EXPECT_EQ(CheckParameters(3, argc, argv.data(), kParameterStringSize, &offending), c.problem);

    // The buffer is one byte larger than the capacity given, with a guard that must survive.
    std::vector<char> out(kParameterStringSize + 1, '#');
    const char* result = JoinParameters(out.data(), kParameterStringSize, 3, argc, argv.data());
    EXPECT_EQ(out.back(), '#');
    if (c.problem == ParameterProblem::kNone) {
      ASSERT_NE(result, nullptr);
      StringList list;
      SplitParameters(result, list);
      EXPECT_EQ(Entries(list), c.parameters);
    } else {
      EXPECT_EQ(result, nullptr);
    }
    if (c.problem == ParameterProblem::kContainsTab) {
      EXPECT_EQ(offending, 4);
    }
  }
}

TEST(SplitParameters, SplitsAtRunsOfTabsAndDropsEmptyEntries) {
  struct Case {
    const char* text;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {"", {}},
      {"\t\t\t", {}},
      {"mainclass=A\t-Xmx64m", {"mainclass=A", "-Xmx64m"}},
      {"a\t\tb", {"a", "b"}},
      {"\tinner one\tinner two\t", {"inner one", "inner two"}},
      {" spaced ", {" spaced "}},
  };
  for (const Case& c : cases) {
    StringList list;
    SplitParameters(c.text, list);
    EXPECT_EQ(Entries(list), c.entries) << "text: " << c.text;
    if (c.entries.empty()) {
      EXPECT_EQ(list.entries, nullptr);
    }
  }
}

TEST(StringList, ReleaseEmptiesAndCanRepeat) {
  StringList list;
  SplitParameters("a\tb", list);
  ASSERT_EQ(list.count, 2u);
  ReleaseStringList(list);
  EXPECT_EQ(list.count, 0u);
  EXPECT_EQ(list.entries, nullptr);
  ReleaseStringList(list);
  EXPECT_EQ(list.count, 0u);

  // Splitting into a list that holds entries replaces them.
  SplitParameters("x", list);
  SplitParameters("y\tz", list);
  EXPECT_EQ(Entries(list), (std::vector<std::string>{"y", "z"}));
}

}  // namespace
