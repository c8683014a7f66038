#include "cli/arguments.h"

#include <algorithm>

namespace cli {
namespace {

constexpr size_t kOptionColumn = 36;  // where descriptions start

const OptionSpec* FindOption(const CommandSpec& command, const std::wstring& name) {
  const auto found = std::find_if(command.options.begin(), command.options.end(),
                                  [&](const OptionSpec& option) { return name == option.name; });
  return found != command.options.end() ? &*found : nullptr;
}

bool IsOption(const std::wstring& argument) {
  return argument.size() > 2 && argument.compare(0, 2, L"--") == 0;
}

}  // namespace

bool ParseArguments(int argc, wchar_t** argv, int first, const CommandSpec& command, Arguments& arguments,
                    std::wstring& error) {
  bool optionsEnded = false;
  for (int i = first; i < argc; ++i) {
    const std::wstring argument = argv[i];
    if (optionsEnded || !IsOption(argument)) {
      if (!optionsEnded && argument == L"--") {
        optionsEnded = true;
      } else {
        arguments.positionals.push_back(argument);
      }
      continue;
    }
    if (argument == L"--help") {
      arguments.help = true;
      return true;
    }
    const OptionSpec* option = FindOption(command, argument);
    if (option == nullptr) {
      error = L"unknown option " + argument;
      return false;
    }
    if (arguments.Has(argument)) {
      error = argument + L" is given twice";
      return false;
    }
    if (option->value == nullptr) {
      arguments.flags.insert(argument);
      continue;
    }
    if (i + 1 >= argc || IsOption(argv[i + 1]) || std::wstring(argv[i + 1]) == L"--") {
      error = argument + L" needs a value";
      return false;
    }
    arguments.values[argument] = argv[++i];
  }
  const size_t expected = command.operand != nullptr ? 1 : 0;
  if (arguments.positionals.size() != expected) {
    error = expected == 0 ? L"unexpected argument " + arguments.positionals.front()
                          : L"expected " + std::wstring(command.operand);
    return false;
  }
  return true;
}

std::wstring CommandHelp(const CommandSpec& command) {
  std::wstring text = L"usage: tmrovane " + std::wstring(command.name) + L" [options]" +
                      (command.operand != nullptr ? L" " + std::wstring(command.operand) : L"") + L"\n" +
                      command.summary + L"\n\noptions:\n";
  for (const OptionSpec& option : command.options) {
    std::wstring line = L"  " + std::wstring(option.name);
    if (option.value != nullptr) {
      line += L" " + std::wstring(option.value);
    }
    line += line.size() + 2 <= kOptionColumn ? std::wstring(kOptionColumn - line.size(), L' ')
                                             : L"\n" + std::wstring(kOptionColumn, L' ');
    for (const wchar_t* c = option.description; *c != L'\0'; ++c) {
      line += *c;
      if (*c == L'\n') {
        line += std::wstring(kOptionColumn, L' ');
      }
    }
    text += line + L"\n";
  }
  text += L"  --help" + std::wstring(kOptionColumn - 8, L' ') + L"this text\n";
  return text;
}

std::wstring IpControlText(const std::wstring& text) {
  unsigned fields[4] = {};
  size_t at = 0;
  for (size_t i = 0; i < 4; ++i) {
    size_t digits = 0;
    while (at < text.size() && text[at] >= L'0' && text[at] <= L'9' && digits < 4) {
      fields[i] = fields[i] * 10 + static_cast<unsigned>(text[at++] - L'0');
      ++digits;
    }
    const bool separator = i < 3 ? at < text.size() && text[at] == L'.' : at == text.size();
    if (digits == 0 || digits > 3 || fields[i] > 255 || !separator) {
      return L"0.0.0.0";
    }
    ++at;
  }
  return std::to_wstring(fields[0]) + L"." + std::to_wstring(fields[1]) + L"." + std::to_wstring(fields[2]) +
         L"." + std::to_wstring(fields[3]);
}

}  // namespace cli
