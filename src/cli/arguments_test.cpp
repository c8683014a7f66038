// The console's command line: options parsed by a command's table, and the IP address as the
// dialog's control would read it.

#include "cli/arguments.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr cli::OptionSpec kOptions[] = {
    {L"--destination", L"FOLDER", L"where it goes"},
    {L"--group", L"PATH|GUID", L"the group,\nby path or GUID"},
    {L"--yes", nullptr, L"answer Yes"},
};
const cli::CommandSpec kCommand{L"try", nullptr, L"a command for the test", kOptions};
const cli::CommandSpec kWithFile{L"look", L"FILE", L"a command taking a file", kOptions};

struct Parsed {
  bool ok = false;
  cli::Arguments arguments;
  std::wstring error;
};

Parsed Parse(const cli::CommandSpec& command, std::vector<std::wstring> words) {
  std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"tmrovane"), const_cast<wchar_t*>(command.name)};
  for (std::wstring& word : words) {
    argv.push_back(word.data());
  }
  Parsed parsed;
  parsed.ok = cli::ParseArguments(static_cast<int>(argv.size()), argv.data(), 2, command, parsed.arguments,
                                  parsed.error);
  return parsed;
}

TEST(ArgumentsTest, OptionsValuesAndOperandsByTheTable) {
  const struct {
    const char* name;
    const cli::CommandSpec& command;
    std::vector<std::wstring> words;
    const wchar_t* error;  // null: parsed
    const wchar_t* destination = L"";
    std::vector<std::wstring> positionals = {};
  } rows[] = {
      {"nothing", kCommand, {}, nullptr},
      {"value and flag", kCommand, {L"--destination", L"D:\\out", L"--yes"}, nullptr, L"D:\\out"},
      {"a value that is one dash", kCommand, {L"--destination", L"-"}, nullptr, L"-"},
      {"value followed by an option", kCommand, {L"--destination", L"--yes"}, L"--destination needs a value"},
      {"value followed by the end of options",
       kCommand,
       {L"--destination", L"--"},
       L"--destination needs a value"},
      {"value missing at the end", kCommand, {L"--yes", L"--destination"}, L"--destination needs a value"},
      {"unknown option", kCommand, {L"--colour", L"red"}, L"unknown option --colour"},
      {"repeated flag", kCommand, {L"--yes", L"--yes"}, L"--yes is given twice"},
      {"repeated option", kCommand, {L"--group", L"a", L"--group", L"b"}, L"--group is given twice"},
      {"operand where none is taken", kCommand, {L"stray"}, L"unexpected argument stray"},
      {"the operand", kWithFile, {L"--yes", L"a.exe"}, nullptr, L"", {L"a.exe"}},
      {"no operand", kWithFile, {L"--yes"}, L"expected FILE"},
      {"two operands", kWithFile, {L"a.exe", L"b.exe"}, L"expected FILE"},
      {"-- ends the options", kWithFile, {L"--", L"--yes"}, nullptr, L"", {L"--yes"}},
      {"-- then an option-like file and another", kWithFile, {L"--", L"--x", L"y"}, L"expected FILE"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const Parsed parsed = Parse(row.command, row.words);
    EXPECT_EQ(row.error == nullptr, parsed.ok) << testing::PrintToString(parsed.error);
    if (row.error != nullptr) {
      EXPECT_EQ(std::wstring(row.error), parsed.error);
      continue;
    }
    EXPECT_EQ(std::wstring(row.destination), parsed.arguments.Value(L"--destination"));
    EXPECT_EQ(row.positionals, parsed.arguments.positionals);
    EXPECT_FALSE(parsed.arguments.help);
  }
}

// --help before "--" asks for the help whatever else the line holds; after it, it is a file.
TEST(ArgumentsTest, HelpEndsParsingAndEveryOptionIsDescribedOnce) {
  const Parsed asked = Parse(kCommand, {L"--colour", L"--help"});
  EXPECT_FALSE(asked.ok) << "an unknown option before --help is still an error";
  const Parsed help = Parse(kCommand, {L"--destination", L"D:\\out", L"--help", L"stray"});
  EXPECT_TRUE(help.ok);
  EXPECT_TRUE(help.arguments.help);
  const Parsed file = Parse(kWithFile, {L"--", L"--help"});
  EXPECT_TRUE(file.ok);
  EXPECT_FALSE(file.arguments.help);

  const std::wstring text = cli::CommandHelp(kCommand);
  EXPECT_EQ(0u, text.find(L"usage: tmrovane try [options]\na command for the test\n")) << text;
  for (const cli::OptionSpec& option : kOptions) {
    const size_t at = text.find(std::wstring(L"  ") + option.name + L" ");
    EXPECT_NE(std::wstring::npos, at) << option.name;
    EXPECT_EQ(at, text.rfind(std::wstring(L"  ") + option.name + L" ")) << option.name << " described twice";
  }
  // A description of two lines keeps its column.
  EXPECT_NE(std::wstring::npos, text.find(L"the group,\n" + std::wstring(36, L' ') + L"by path or GUID\n"))
      << text;
}

TEST(IpControlTextTest, ReadsWhatTheControlWouldHold) {
  const struct {
    const wchar_t* typed;
    const wchar_t* control;
  } rows[] = {
      {L"10.20.30.40", L"10.20.30.40"},
      {L"010.020.030.040", L"10.20.30.40"},
      {L"0.0.0.0", L"0.0.0.0"},
      {L"255.255.255.255", L"255.255.255.255"},
      {L"256.1.2.3", L"0.0.0.0"},
      {L"1.2.3", L"0.0.0.0"},
      {L"1.2.3.4.5", L"0.0.0.0"},
      {L"1.2.3.", L"0.0.0.0"},
      {L"1..3.4", L"0.0.0.0"},
      {L"0001.2.3.4", L"0.0.0.0"},
      {L"1.2.3.4 ", L"0.0.0.0"},
      {L"a.b.c.d", L"0.0.0.0"},
      {L"", L"0.0.0.0"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(std::wstring(row.control), cli::IpControlText(row.typed)) << testing::PrintToString(row.typed);
  }
}

}  // namespace
