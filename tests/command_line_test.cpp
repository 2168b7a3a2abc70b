// The option tables of the programs: getopt_long's rules as the programs' users meet them.
#include "app/command_line.h"

#include "testing/test_support.h"

namespace velto::testing {
namespace {

struct Seen {
  bool flag = false;
  std::string choice = "a";
  std::string value;
};

CommandLine table(Seen* seen) {
  return {"prog",
          {flagOption("flag", "a flag", &seen->flag),
           {"value", "N", "a value",
            [seen](const std::string& v, std::string* err) {
              if (v == "bad") *err = "prog: bad value";
              seen->value = v;
              return v != "bad";
            }},
           choiceOption("prog", "pick", {"a", "b", "c"}, "one of three", &seen->choice)},
          "IN OUT",
          2,
          2};
}

TEST(CommandLine, OptionsAnywhereOperandsInOrder) {
  const std::string usage = "usage: prog [--flag] [--value N] [--pick a|b|c] IN OUT";
  struct Case {
    std::vector<std::string> args;
    CommandAction action;
    std::vector<std::string> operands;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{"x", "--flag", "--value=3"}, CommandAction::kFail, {}, usage},  // one operand short
      {{"in", "--value", "3", "out", "--flag"}, CommandAction::kRun, {"in", "out"}, ""},
      {{"--", "--flag", "-"}, CommandAction::kRun, {"--flag", "-"}, ""},
      {{"in", "out", "--unknown"}, CommandAction::kFail, {}, usage},
      {{"in", "out", "-f"}, CommandAction::kFail, {}, usage},
      {{"in", "out", "--value"}, CommandAction::kFail, {}, usage},
      {{"in", "out", "--value", "bad"}, CommandAction::kFail, {}, "prog: bad value"},
      {{"in", "out", "--pick", "d"},
       CommandAction::kFail,
       {},
       "prog: --pick takes a, b or c, not \"d\""},
      {{"in", "out", "extra"}, CommandAction::kFail, {}, usage},
      {{"--version", "--unknown"}, CommandAction::kVersion, {}, "prog " VELTO_TEST_VERSION "\n"},
  };
  for (const Case& c : cases) {
    Seen seen;
    std::vector<std::string> args = {"prog"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const ParsedCommandLine parsed = parseCommandLine(table(&seen), args);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(parsed.action, c.action);
    EXPECT_EQ(parsed.text, c.text);
    if (c.action == CommandAction::kRun) {
      EXPECT_EQ(parsed.operands, c.operands);
    }
  }
  Seen seen;
  ASSERT_EQ(parseCommandLine(table(&seen), {"prog", "--pick=c", "i", "--flag", "--value", "7", "o"})
                .action,
            CommandAction::kRun);
  EXPECT_TRUE(seen.flag);
  EXPECT_EQ(seen.choice, "c");
  EXPECT_EQ(seen.value, "7");
}

TEST(CommandLine, HelpListsEveryOptionAndWinsOverMistakes) {
  Seen seen;
  const ParsedCommandLine parsed = parseCommandLine(table(&seen), {"prog", "--nonsense", "--help"});
  EXPECT_EQ(parsed.action, CommandAction::kHelp);
  EXPECT_EQ(parsed.text,
            "usage: prog [--flag] [--value N] [--pick a|b|c] IN OUT\n\n"
            "  --flag        a flag\n"
            "  --value N     a value\n"
            "  --pick a|b|c  one of three\n"
            "  --help        show this help and exit\n"
            "  --version     show the version and exit\n");
}

}  // namespace
}  // namespace velto::testing
