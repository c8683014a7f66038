#pragma once
// The console program's command line: a command, then options "--name value" or "--flag",
// then positional arguments, all wide (UTF-16) as the process received them, so that group
// paths and file names in any script are kept exactly.

#include <map>
#include <set>
#include <string>
#include <vector>

namespace cli {

// What a command accepts: options that take a value and flags that take none.
struct CommandSyntax {
  std::set<std::wstring> valued;
  std::set<std::wstring> flags;
  size_t positionals = 0;  // exactly this many
};

struct Arguments {
  std::map<std::wstring, std::wstring> values;
  std::set<std::wstring> flags;
  std::vector<std::wstring> positionals;

  bool Has(const std::wstring& name) const { return values.count(name) != 0 || flags.count(name) != 0; }
  // The option's value, or `otherwise` when it was not given.
  std::wstring Value(const std::wstring& name, const std::wstring& otherwise = {}) const {
    const auto found = values.find(name);
    return found != values.end() ? found->second : otherwise;
  }
};

// Parses argv[first..argc); false with `error` set for an unknown option, a repeated one, a
// missing value or a wrong number of positional arguments.
bool ParseArguments(int argc, wchar_t** argv, int first, const CommandSyntax& syntax, Arguments& arguments,
                    std::wstring& error);

}  // namespace cli
