#pragma once
// The console program's command line: a command, then options "--name value" or "--flag",
// then positional arguments ("--" ends the options), all wide (UTF-16) as the process received
// them, so that group paths and file names in any script are kept exactly. Each command's options
// are one table, which both parses the command line and writes the command's help.

#include <map>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace cli {

// One option of a command: a flag when it takes no value.
struct OptionSpec {
  const wchar_t* name;         // "--destination"
  const wchar_t* value;        // what its value is, as the help names it ("FOLDER"); null for a flag
  const wchar_t* description;  // one line, or lines separated by "\n"
};

struct CommandSpec {
  const wchar_t* name;     // "create"
  const wchar_t* operand;  // the positional argument ("FILE"), or null for none
  const wchar_t* summary;  // what the command does, one line
  std::span<const OptionSpec> options;
};

struct Arguments {
  std::map<std::wstring, std::wstring> values;
  std::set<std::wstring> flags;
  std::vector<std::wstring> positionals;
  bool help = false;  // --help was given: the command prints its help and does nothing else

  bool Has(const std::wstring& name) const { return values.count(name) != 0 || flags.count(name) != 0; }
  // The option's value, or `otherwise` when it was not given.
  std::wstring Value(const std::wstring& name, const std::wstring& otherwise = {}) const {
    const auto found = values.find(name);
    return found != values.end() ? found->second : otherwise;
  }
};

// Parses argv[first..argc) by the command's table; false with `error` set for an unknown option,
// a repeated one, an option without its value (also when another option follows it) or a wrong
// number of positional arguments. "--help" before "--" ends the parsing with `help` set.
bool ParseArguments(int argc, wchar_t** argv, int first, const CommandSpec& command, Arguments& arguments,
                    std::wstring& error);

// "usage: tmrovane <command> ..." with the command's summary and one line (or more) per option.
std::wstring CommandHelp(const CommandSpec& command);

// The text the dialog's IP address control gives for `text`: four decimal fields of 0 to 255,
// written without leading zeros; the blank address "0.0.0.0" for anything else, which the
// build refuses at its point with the dialog's own message.
std::wstring IpControlText(const std::wstring& text);

}  // namespace cli
