#pragma once
// The command lines of the programs that take options: one table of options per program,
// parsed by getopt_long, with --help (the usage and every option, on standard output) and
// --version for each. velto-fprint itself takes none: its two arguments are its contract.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace velto {

struct CommandOption {
  std::string name;       // the long name, without its dashes
  std::string valueName;  // the value's name in the usage ("SECONDS"); empty for a flag
  std::string help;       // one line for --help
  // Takes the value (empty for a flag); false with the message in `*err` when it is refused.
  std::function<bool(const std::string& value, std::string* err)> apply;
};

// --NAME sets `*target`.
CommandOption flagOption(const std::string& name, const std::string& help, bool* target);
// --NAME CHOICE sets `*target` to one of `choices`; any other value is refused with
// "PROGRAM: --NAME takes a or b, not "x"".
CommandOption choiceOption(const std::string& program, const std::string& name,
                           const std::vector<std::string>& choices, const std::string& help,
                           std::string* target);

struct CommandLine {
  std::string program;  // its name in the usage, the version line and messages
  std::vector<CommandOption> options;
  std::string operands;  // as the usage shows them: "PATH...", "<input.json> <output.json>"
  size_t minOperands = 0;
  size_t maxOperands = static_cast<size_t>(-1);
};

enum class CommandAction { kRun, kHelp, kVersion, kFail };

struct ParsedCommandLine {
  CommandAction action = CommandAction::kFail;
  std::vector<std::string> operands;  // kRun: the arguments that are not options, in order
  std::string text;  // kHelp: the help; kVersion: the version line; kFail: the message
};

// "usage: PROGRAM [--flag] [--name VALUE] ... OPERANDS"
std::string usageLine(const CommandLine& commandLine);

// Parses `args` (the program's name first). Options may stand anywhere, as --name VALUE or
// --name=VALUE, and "--" ends them. --help and --version win over everything else. An unknown
// option, a missing value or a wrong number of operands fails with the usage line; a refused
// value with the option's own message.
ParsedCommandLine parseCommandLine(const CommandLine& commandLine,
                                   const std::vector<std::string>& args);

}  // namespace velto
