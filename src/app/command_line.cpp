#include "app/command_line.h"

#include <getopt.h>

#include <algorithm>
#include <memory>

namespace velto {
namespace {

constexpr int kHelpCode = 1000;
constexpr int kVersionCode = 1001;

std::string joined(const std::vector<std::string>& words, const std::string& last) {
  std::string out;
  for (size_t i = 0; i < words.size(); ++i) {
    out += (i == 0 ? "" : i + 1 == words.size() ? last : ", ") + words[i];
  }
  return out;
}

}  // namespace

CommandOption flagOption(const std::string& name, const std::string& help, bool* target) {
  return {name, "", help, [target](const std::string&, std::string*) { return *target = true; }};
}

CommandOption choiceOption(const std::string& program, const std::string& name,
                           const std::vector<std::string>& choices, const std::string& help,
                           std::string* target) {
  std::string valueName;
  for (const std::string& c : choices) valueName += (valueName.empty() ? "" : "|") + c;
  return {name, valueName, help, [=](const std::string& value, std::string* err) {
            for (const std::string& c : choices) {
              if (value == c) {
                *target = value;
                return true;
              }
            }
            *err = program + ": --" + name + " takes " + joined(choices, " or ") + ", not \"" +
                   value + "\"";
            return false;
          }};
}

std::string usageLine(const CommandLine& commandLine) {
  std::string line = "usage: " + commandLine.program;
  for (const CommandOption& o : commandLine.options) {
    line += " [--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName) + "]";
  }
  return line + " " + commandLine.operands;
}

ParsedCommandLine parseCommandLine(const CommandLine& commandLine,
                                   const std::vector<std::string>& args) {
  const std::vector<CommandOption>& options = commandLine.options;
  std::vector<option> table;
  for (size_t i = 0; i < options.size(); ++i) {
    table.push_back({options[i].name.c_str(),
                     options[i].valueName.empty() ? no_argument : required_argument, nullptr,
                     static_cast<int>(i)});
  }
  table.push_back({"help", no_argument, nullptr, kHelpCode});
  table.push_back({"version", no_argument, nullptr, kVersionCode});
  table.push_back({nullptr, 0, nullptr, 0});

  // getopt_long permutes its argv: a copy of our own, terminated as main's is.
  std::vector<std::unique_ptr<char[]>> storage;
  std::vector<char*> argv;
  for (const std::string& a : args) {
    storage.push_back(std::make_unique<char[]>(a.size() + 1));
    a.copy(storage.back().get(), a.size());
    storage.back()[a.size()] = '\0';
    argv.push_back(storage.back().get());
  }
  argv.push_back(nullptr);

  ParsedCommandLine parsed;
  const std::string usage = usageLine(commandLine);
  bool help = false, version = false, bad = false;
  std::string refused;
  optind = 0;  // 0, not 1: glibc then starts afresh, whatever an earlier parse left
  opterr = 0;  // its own messages would bypass ours
  for (;;) {
    const int code =
        getopt_long(static_cast<int>(args.size()), argv.data(), "", table.data(), nullptr);
    if (code == -1) break;
    if (code == kHelpCode) {
      help = true;
    } else if (code == kVersionCode) {
      version = true;
    } else if (code >= 0 && static_cast<size_t>(code) < options.size()) {
      std::string err;
      if (refused.empty() &&
          !options[static_cast<size_t>(code)].apply(optarg ? optarg : "", &err)) {
        refused = err;
      }
    } else {
      bad = true;
    }
  }
  for (size_t i = static_cast<size_t>(optind); i < args.size(); ++i) {
    parsed.operands.push_back(argv[i]);
  }
  if (help) {
    parsed.action = CommandAction::kHelp;
    parsed.text = usage + "\n\n";
    size_t width = 0;
    std::vector<std::string> heads;
    for (const CommandOption& o : options) {
      heads.push_back("--" + o.name + (o.valueName.empty() ? "" : " " + o.valueName));
    }
    heads.push_back("--help");
    heads.push_back("--version");
    for (const std::string& h : heads) width = std::max(width, h.size());
    for (size_t i = 0; i < heads.size(); ++i) {
      const std::string text = i < options.size()    ? options[i].help
                               : i == options.size() ? "show this help and exit"
                                                     : "show the version and exit";
      parsed.text += "  " + heads[i] + std::string(width - heads[i].size() + 2, ' ') + text + "\n";
    }
  } else if (version) {
    parsed.action = CommandAction::kVersion;
    parsed.text = commandLine.program + " " + VELTO_VERSION + "\n";
  } else if (bad) {
    parsed.text = usage;
  } else if (!refused.empty()) {
    parsed.text = refused;
  } else if (parsed.operands.size() < commandLine.minOperands ||
             parsed.operands.size() > commandLine.maxOperands) {
    parsed.text = usage;
  } else {
    parsed.action = CommandAction::kRun;
  }
  return parsed;
}

}  // namespace velto
