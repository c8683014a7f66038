#include "build/build_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace {

using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

constexpr wchar_t kTag[] = L"BuildSettingsTest";

std::string Utf16WithBom(const std::wstring& text) {
  std::string bytes("\xFF\xFE", 2);
  for (wchar_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::wstring ReadKey(const std::wstring& path, const wchar_t* section, const wchar_t* key) {
  wchar_t value[260];
  GetPrivateProfileStringW(section, key, L"<absent>", value, 260, path.c_str());
  return value;
}

class BuildSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    logPath_ = dir_ / L"trace.log";
    tracelog::GetSettings().filePath = logPath_.c_str();
    ini_ = dir_ / kSettingsFileName;
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }

  TempDir dir_;
  std::wstring logPath_;
  std::wstring ini_;
  tracelog::Settings saved_;
};

TEST_F(BuildSettingsTest, Utf16TemplateKeepsEncodingSectionsAndOverwritesInPlace) {
  ASSERT_TRUE(WriteBytes(ini_, Utf16WithBom(L"[General]\r\nname=\u00c9t\u00e9\r\n"
                                            L"[SETTING]\r\npreset_group_id=old\r\nkeep=me\r\n"
                                            L"[Tail]\r\nx=y\r\n")));
  BuildOptions options;
  options.groupGuid = L"{0A1B2C3D-1111-2222-3333-444455556666}";
  options.alternateConnection = true;
  options.installationMode = 1;
  ASSERT_TRUE(
      WriteBuildSettings(ini_.c_str(), BuildSettingsFor(BuildKind::WinExeAv, options, L"10.1.2.3"), kTag));

  const std::string bytes = ReadBytes(ini_);
  ASSERT_EQ(std::string("\xFF\xFE", 2), bytes.substr(0, 2));
  const std::wstring text(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
  EXPECT_NE(std::wstring::npos, text.find(L"name=\u00c9t\u00e9")) << testing::PrintToString(text);
  // The template's key keeps its place ahead of "keep"; new keys follow in the order written.
  const size_t group = text.find(L"preset_group_id={0A1B2C3D-1111-2222-3333-444455556666}");
  const size_t keep = text.find(L"keep=me");
  const size_t server = text.find(L"SERVER_IP=10.1.2.3");
  const size_t network = text.find(L"clntinstnetwk=2");
  const size_t tail = text.find(L"[Tail]");
  ASSERT_NE(std::wstring::npos, group);
  ASSERT_NE(std::wstring::npos, server);
  ASSERT_NE(std::wstring::npos, network);
  EXPECT_LT(group, keep);
  EXPECT_LT(keep, server);
  EXPECT_LT(server, network);
  EXPECT_LT(network, tail);
  EXPECT_EQ(std::wstring::npos, text.find(L"old"));
  EXPECT_EQ(std::wstring::npos, text.find(L"clntpullfreq"));
  EXPECT_EQ(L"y", ReadKey(ini_, L"Tail", L"x"));
}

TEST_F(BuildSettingsTest, AsciiTemplateStaysAsciiForLinuxSettings) {
  ASSERT_TRUE(WriteBytes(ini_, "[SETTING]\r\nagent=1\r\n[Other]\r\nk=v\r\n"));
  BuildOptions options;
  options.groupGuid = L"{GROUP}";
  options.installationMode = 1;
  ASSERT_TRUE(WriteBuildSettings(ini_.c_str(), BuildSettingsFor(BuildKind::Linux64, options, L""), kTag));

  const std::string bytes = ReadBytes(ini_);
  EXPECT_EQ(std::string::npos, bytes.find('\0'));
  EXPECT_NE("\xFF\xFE", bytes.substr(0, 2));
  const size_t network = bytes.find("clntinstnetwk=1");
  const size_t pull = bytes.find("clntpullfreq=0");
  ASSERT_NE(std::string::npos, network) << bytes;
  ASSERT_NE(std::string::npos, pull) << bytes;
  EXPECT_LT(network, pull);
  EXPECT_EQ(std::string::npos, bytes.find("preset_group_id"));
  EXPECT_EQ(std::string::npos, bytes.find("SERVER_IP"));
  EXPECT_EQ(L"1", ReadKey(ini_, L"SETTING", L"agent"));
  EXPECT_EQ(L"v", ReadKey(ini_, L"Other", L"k"));
}

TEST_F(BuildSettingsTest, NetworkValueAndServerAddressFollowTheConnectionChoice) {
  struct Row {
    const char* name;
    BuildKind kind;
    bool alternate;
    int mode;
    const wchar_t* network;
    const wchar_t* server;
    const wchar_t* group;
  } rows[] = {
      {"mode 2 without alternate", BuildKind::MacAgent, false, 2, L"2", L"<absent>", L"{G}"},
      {"mode 1 without alternate", BuildKind::WinMsi, false, 1, L"1", L"<absent>", L"{G}"},
      {"mode 0 without alternate", BuildKind::WinExeAgent, false, 0, L"1", L"<absent>", L"{G}"},
      {"alternate overrides mode 1", BuildKind::MacAv, true, 1, L"2", L"host.example", L"{G}"},
      {"linux with alternate", BuildKind::Linux32, true, 1, L"2", L"host.example", L"<absent>"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_TRUE(WriteBytes(ini_, "[SETTING]\r\n"));
    BuildOptions options;
    options.groupGuid = L"{G}";
    options.alternateConnection = row.alternate;
    options.installationMode = row.mode;
    ASSERT_TRUE(WriteBuildSettings(ini_.c_str(), BuildSettingsFor(row.kind, options, L"host.example"), kTag));
    EXPECT_EQ(row.network, ReadKey(ini_, L"SETTING", L"clntinstnetwk"));
    EXPECT_EQ(row.server, ReadKey(ini_, L"SETTING", L"SERVER_IP"));
    EXPECT_EQ(row.group, ReadKey(ini_, L"SETTING", L"preset_group_id"));
  }
}

TEST_F(BuildSettingsTest, FailedWriteIsTracedAndStopsTheSequence) {
  const std::wstring missing = dir_ / L"no-such-folder\\wsnode.ini";
  BuildOptions options;
  options.groupGuid = L"{G}";
  options.alternateConnection = true;
  EXPECT_FALSE(
      WriteBuildSettings(missing.c_str(), BuildSettingsFor(BuildKind::WinExeAv, options, L"h"), kTag));
  const std::wstring log = testsupport::ReadUtf16(logPath_);
  const std::wstring line = L"BuildSettingsTest WritePrivateProfileString failed (Err -> ";
  const size_t first = log.find(line);
  ASSERT_NE(std::wstring::npos, first) << testing::PrintToString(log);
  EXPECT_EQ(std::wstring::npos, log.find(line, first + 1)) << "the sequence went on after a failure";
  EXPECT_EQ(std::wstring::npos, log.find(L"(Err -> 0)")) << "the system error was not traced";
}

}  // namespace
