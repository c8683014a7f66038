// The TAR reader on archives built byte by byte, and the message IDs found for shown texts.

#include "cli/installer_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/console_text.h"

namespace {

// One 512-byte header with a valid checksum, followed by the content padded to its blocks.
std::string Entry(const std::string& name, const std::string& content, char type = '0') {
  std::string header(512, '\0');
  memcpy(header.data(), name.data(), std::min<size_t>(name.size(), 100));
  snprintf(header.data() + 124, 12, "%011o", static_cast<unsigned>(content.size()));
  header[156] = type;
  memset(header.data() + 148, ' ', 8);
  unsigned sum = 0;
  for (unsigned char c : header) {
    sum += c;
  }
  snprintf(header.data() + 148, 8, "%06o", sum);
  std::string padded = content;
  padded.resize((content.size() + 511) / 512 * 512, '\0');
  return header + padded;
}

const std::string kEnd(1024, '\0');

TEST(TarReaderTest, ReadsWholeArchivesAndRefusesEveryDamage) {
  const std::string longName = "MCWSNODE/" + std::string(120, 'n') + ".dmg";
  const std::string good = Entry("MCWSNODE/", "", '5') + Entry("MCWSNODE/wsnode.ini", "[SETTING]\r\n") +
                           Entry("././@LongLink", longName + '\0', 'L') + Entry("x", std::string(700, 'd'));
  std::string badChecksum = good;
  badChecksum[512 + 10] ^= 1;  // a name byte of the second header
  std::string badSize = Entry("a", "abc");
  memcpy(badSize.data() + 124, "00000000x03", 11);
  struct Row {
    const char* name;
    std::string bytes;
    bool readable;
    size_t entries;
  };
  const Row rows[] = {
      {"whole archive", good + kEnd, true, 2},
      {"empty archive", kEnd, true, 0},
      {"no end blocks", good, false, 0},
      {"a changed header", badChecksum + kEnd, false, 0},
      {"a size that is no octal number", badSize + kEnd, false, 0},
      {"content cut short", good.substr(0, good.size() - 512), false, 0},
      {"end blocks cut short", good + kEnd.substr(0, 100), false, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cli::InstallerContents contents;
    std::wstring error;
    EXPECT_EQ(row.readable, cli::ReadTar(row.bytes, contents, error)) << error;
    if (!row.readable) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_EQ(row.entries, contents.entries.size());
    if (row.entries == 2) {
      EXPECT_EQ(L"MCWSNODE/wsnode.ini", contents.entries[0].name);
      EXPECT_EQ(std::string("[SETTING]\r\n"), contents.settings.value_or(""));
      EXPECT_EQ(std::wstring(longName.begin(), longName.end()), contents.entries[1].name) << "the long name";
      EXPECT_EQ(700u, contents.entries[1].size);
    }
  }
}

// A message line: the ID before a text of the table, none before a text of the program's own, and
// one line whatever the text's line breaks.
TEST(ConsoleTextTest, MessageLinesCarryTheIdOfTheirText) {
  const struct {
    UINT id;
    const wchar_t* text;
    const wchar_t* line;
  } rows[] = {
      {3017, L"Please specify a valid path.", L"3017: Please specify a valid path."},
      {3026,
       L"Creating client agent installer including Halvane will take some time.\n Do you wish to continue?",
       L"3026: Creating client agent installer including Halvane will take some time.  Do you wish to "
       L"continue?"},
      {uitext::kOwnText, L"ERROR_BAD_QUERY_SYNTAX", L"ERROR_BAD_QUERY_SYNTAX"},
      {uitext::kOwnText, L"two\r\nlines", L"two lines"},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(std::wstring(row.line), cli::MessageLine(row.id, row.text));
  }
}

}  // namespace
