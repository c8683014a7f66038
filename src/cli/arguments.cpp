#include "cli/arguments.h"

namespace cli {

bool ParseArguments(int argc, wchar_t** argv, int first, const CommandSyntax& syntax, Arguments& arguments,
                    std::wstring& error) {
  for (int i = first; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (argument.size() < 2 || argument.compare(0, 2, L"--") != 0) {
      arguments.positionals.push_back(argument);
      continue;
    }
    if (arguments.Has(argument)) {
      error = argument + L" is given twice";
      return false;
    }
    if (syntax.flags.count(argument) != 0) {
      arguments.flags.insert(argument);
    } else if (syntax.valued.count(argument) != 0) {
      if (i + 1 >= argc) {
        error = argument + L" needs a value";
        return false;
      }
      arguments.values[argument] = argv[++i];
    } else {
      error = L"unknown option " + argument;
      return false;
    }
  }
  if (arguments.positionals.size() != syntax.positionals) {
    error = syntax.positionals == 0 ? L"unexpected argument " + arguments.positionals.front()
                                    : L"expected " + std::to_wstring(syntax.positionals) + L" argument(s)";
    return false;
  }
  return true;
}

}  // namespace cli
