// The TAR reader on archives built byte by byte, and the message IDs found for shown texts.

#include "cli/installer_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cli/console_text.h"
#include "support/temp_dir.h"

namespace {

// One 512-byte header with a valid checksum, followed by the content padded to its blocks. The
// header states `declared` as the size when given, the content's length otherwise.
std::string Entry(const std::string& name, const std::string& content, char type = '0',
                  unsigned long long declared = ~0ull) {
  std::string header(512, '\0');
  memcpy(header.data(), name.data(), std::min<size_t>(name.size(), 100));
  snprintf(header.data() + 124, 12, "%011llo", declared == ~0ull ? content.size() : declared);
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

// The TAR reader on `bytes` written to a file of their own.
bool ReadTarBytes(const std::string& bytes, cli::InstallerContents& contents, std::wstring& error) {
  testsupport::TempDir folder;
  const std::wstring path = folder / L"archive.tar";
  return testsupport::WriteBytes(path, bytes) && cli::ReadTar(path, contents, error);
}

std::string Utf16(const std::wstring& text) {
  std::string bytes("\xFF\xFE");
  bytes.append(reinterpret_cast<const char*>(text.data()), text.size() * 2);
  return bytes;
}

TEST(TarReaderTest, ReadsWholeArchivesAndRefusesEveryDamage) {
  const std::string longName = "MCWSNODE/" + std::string(120, 'n') + ".dmg";
  const std::string good = Entry("MCWSNODE/", "", '5') + Entry("MCWSNODE/wsnode.ini", "[SETTING]\r\n") +
                           Entry("././@LongLink", longName + '\0', 'L') + Entry("x", std::string(700, 'd'));
  std::string badChecksum = good;
  badChecksum[512 + 10] ^= 1;  // a name byte of the second header
  std::string badSize = Entry("a", "abc");
  memcpy(badSize.data() + 124, "00000000x03", 11);
  std::string manyEntries;
  for (int i = 0; i <= 10000; ++i) {
    manyEntries += Entry(std::to_string(i), "");
  }
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
      {"a size far past the end of the file", Entry("a", "abc", '0', 077777777777ull) + kEnd, false, 0},
      {"a long name longer than a block",
       Entry("././@LongLink", std::string(600, 'n') + '\0', 'L') + Entry("x", "") + kEnd, false, 0},
      {"an unterminated long name", Entry("././@LongLink", std::string(40, 'n'), 'L') + Entry("x", "") + kEnd,
       false, 0},
      {"a long name naming nothing", Entry("././@LongLink", "abc" + std::string(1, '\0'), 'L') + kEnd, false,
       0},
      {"two long names in a row",
       Entry("././@LongLink", "abc" + std::string(1, '\0'), 'L') +
           Entry("././@LongLink", "def" + std::string(1, '\0'), 'L') + Entry("x", "") + kEnd,
       false, 0},
      {"more entries than an installer holds", manyEntries + kEnd, false, 0},
      {"a record larger than a record can be", Entry("rpinfo.dat", std::string(64 * 1024 + 1, 'r')) + kEnd,
       false, 0},
      {"a settings file of odd length", Entry("wsnode.ini", Utf16(L"[SETTING]") + "x") + kEnd, false, 0},
      {"a settings file with an unpaired surrogate", Entry("wsnode.ini", Utf16(L"[SETTING]\xD800x")) + kEnd,
       false, 0},
      {"a settings file with a NUL", Entry("wsnode.ini", std::string("[SETTING]\0x", 11)) + kEnd, false, 0},
      {"a settings line of 1025 characters", Entry("wsnode.ini", "[S]\r\n" + std::string(1025, 'k')) + kEnd,
       false, 0},
      {"a settings line of 1024 characters", Entry("wsnode.ini", "[S]\r\n" + std::string(1024, 'k')) + kEnd,
       true, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    cli::InstallerContents contents;
    std::wstring error;
    EXPECT_EQ(row.readable, ReadTarBytes(row.bytes, contents, error)) << error;
    if (!row.readable) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    ASSERT_EQ(row.entries, contents.entries.size());
    if (row.entries == 2) {
      EXPECT_EQ(L"MCWSNODE/wsnode.ini", contents.entries[0].name);
      EXPECT_EQ(L"[SETTING]\r\n", contents.settings.value_or(L""));
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
