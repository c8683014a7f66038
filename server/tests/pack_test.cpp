#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standin_fixture.h"

namespace {

using standintest::ServerFolderTest;
using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

const std::string kArchive = std::string("7z\xBC\xAF\x27\x1C\x00\x04", 8) + "archive body";

struct PackRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string errors;
};

class PackerTest : public ServerFolderTest {
 protected:
  void SetUp() override {
    ASSERT_NO_FATAL_FAILURE(LayOut());
    packer_ = InServer(L"Tools\\clPacker");
  }

  std::wstring InPacker(const std::wstring& name) const { return packer_ + L"\\" + name; }

  // Runs the packer folder's pack.exe with `arguments` appended to its path and one space,
  // in the packer folder, as the Client Packager does.
  PackRun Pack(const std::wstring& arguments) {
    PackRun run;
    const std::wstring errorsPath = dir_ / L"stderr.txt";
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    fw::UniqueKernelHandle errors(::CreateFileW(errorsPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(errors);
    std::wstring commandLine = InPacker(L"pack.exe") + L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    startup.hStdError = errors.get();
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, packer_.c_str(),
                          &startup, &process)) {
      ADD_FAILURE() << "pack.exe did not start: " << ::GetLastError();
      return run;
    }
    fw::UniqueKernelHandle processHandle(process.hProcess);
    fw::UniqueKernelHandle threadHandle(process.hThread);
    ::WaitForSingleObject(process.hProcess, INFINITE);
    ::GetExitCodeProcess(process.hProcess, &run.exitCode);
    errors.reset();
    run.errors = ReadBytes(errorsPath);
    return run;
  }

  // The scrambled 40-byte password file as the password dialog writes it.
  std::wstring WritePasswordFile(const std::string& ansi) {
    std::string bytes = ansi;
    bytes.resize(40, '\0');
    for (char& c : bytes) {
      const unsigned char b = static_cast<unsigned char>(c);
      c = static_cast<char>(((b >> 4) | (b << 4)) & 0xFF);
    }
    const std::wstring path = dir_ / L"pwd.dat";
    EXPECT_TRUE(WriteBytes(path, bytes));
    return path;
  }

  std::string Record() const { return ReadBytes(InPacker(L"pack.log")); }

  std::wstring packer_;
};

TEST_F(PackerTest, WritesTheSfxModuleFollowedByTheArchiveAndRecordsTheSize) {
  ASSERT_TRUE(WriteBytes(InPacker(L"root.7z"), kArchive));
  ASSERT_TRUE(WriteBytes(InPacker(L"wsnode32.exe"), "stale output of an earlier build"));
  const PackRun run = Pack(L"root.7z wsnode32.exe 21");
  EXPECT_EQ(0u, run.exitCode) << run.errors;
  const std::string module = ReadBytes(InPacker(L"7z.sfx"));
  ASSERT_GT(module.size(), 2u);
  EXPECT_EQ("MZ", module.substr(0, 2));
  EXPECT_EQ(module + kArchive, ReadBytes(InPacker(L"wsnode32.exe")));
  EXPECT_EQ("archive=root.7z\r\noutput=wsnode32.exe\r\nsize=21\r\nexit=0\r\n", Record());
  EXPECT_FALSE(FileExists(InPacker(L"wsnode32.exe.part")));
}

TEST_F(PackerTest, RecordsAHashOfTheUnscrambledPasswordAndAMissingSize) {
  ASSERT_TRUE(WriteBytes(InPacker(L"root.7z"), kArchive));
  struct Row {
    const char* name;
    std::string ansi;
    std::string recorded;  // FNV-1a 64 of the password's UTF-8 bytes, worked out independently
  };
  const Row rows[] = {
      {"letters and digits", "abc123", "62cca2412f0aff65"},
      {"longest", std::string(18, 'x'), "9bd429b38600750d"},
      {"code page character", "p\xE9sswd", "69e8e2a20f04251e"},  // UTF-8 p\xC3\xA9sswd
  };
  for (const Row& row : rows) {
    const std::wstring passwordFile = WritePasswordFile(row.ansi);
    // No pack size parameter: the command line ends with a space.
    const PackRun run = Pack(L"root.7z wsnode32.exe /PWD=" + passwordFile + L" ");
    EXPECT_EQ(0u, run.exitCode) << row.name << ": " << run.errors;
    EXPECT_EQ("archive=root.7z\r\noutput=wsnode32.exe\r\nsize=\r\npassword_fnv1a64=" + row.recorded +
                  "\r\npassword_file=" + standin::ToUtf8(passwordFile) + "\r\nexit=0\r\n",
              Record())
        << row.name;
  }
}

TEST_F(PackerTest, RefusesBadArgumentsWithoutWritingAnything) {
  ASSERT_TRUE(WriteBytes(InPacker(L"root.7z"), kArchive));
  const wchar_t* rows[] = {
      L"",
      L"root.7z ",
      L"root.7z wsnode32.exe /PWD= 15",
      L"root.7z wsnode32.exe 12x",
      L"root.7z wsnode32.exe 4294967296",
      L"root.7z wsnode32.exe 15 /PWD=C:\\pwd.dat",
      L"root.7z wsnode32.exe 15 16",
      L"root.7z sub\\wsnode32.exe 15",
      L"C:\\root.7z wsnode32.exe 15",
      L"root.7z wsnode32.exe /XYZ 15",
  };
  for (const wchar_t* arguments : rows) {
    const PackRun run = Pack(arguments);
    EXPECT_EQ(1u, run.exitCode) << standin::ToUtf8(arguments);
    EXPECT_NE(std::string::npos, run.errors.find("usage")) << standin::ToUtf8(arguments);
    EXPECT_FALSE(FileExists(InPacker(L"wsnode32.exe"))) << standin::ToUtf8(arguments);
    EXPECT_FALSE(FileExists(InPacker(L"pack.log"))) << standin::ToUtf8(arguments);
  }
}

TEST_F(PackerTest, FailsOnAMissingArchiveOrPasswordFile) {
  struct Row {
    const char* name;
    const char* archive;        // nullptr: no root.7z
    const char* passwordBytes;  // nullptr: no /PWD=; "missing": no file
    size_t passwordLength;
    DWORD exitCode;
    const char* message;
  };
  const Row rows[] = {
      {"no archive", nullptr, nullptr, 0, 2, "cannot read the archive root.7z"},
      {"not a 7z archive", "PK\x03\x04", nullptr, 0, 2, "not a 7z archive"},
      {"password file missing", "7z", "missing", 0, 3, "cannot read the password file"},
      {"password file short", "7z", "\x16\x26\x36", 39, 3, "does not hold 40 bytes"},
      {"password file empty password", "7z", "", 40, 3, "holds no password"},
      {"password without terminator", "7z",
       "\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16"
       "\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16\x16"
       "\x16\x16\x16\x16\x16\x16\x16\x16",
       40, 3, "holds no password"},
  };
  for (const Row& row : rows) {
    ::DeleteFileW(InPacker(L"root.7z").c_str());
    if (row.archive != nullptr) {
      ASSERT_TRUE(
          WriteBytes(InPacker(L"root.7z"), row.archive == std::string("7z") ? kArchive : row.archive));
    }
    std::wstring arguments = L"root.7z wsnode64.exe ";
    if (row.passwordBytes != nullptr) {
      const std::wstring passwordFile = dir_ / L"pwd.dat";
      ::DeleteFileW(passwordFile.c_str());
      if (row.passwordBytes != std::string("missing")) {
        std::string bytes(row.passwordBytes);
        bytes.resize(row.passwordLength, '\0');
        ASSERT_TRUE(WriteBytes(passwordFile, bytes));
      }
      arguments += L"/PWD=" + passwordFile + L" ";
    }
    arguments += L"15";
    const PackRun run = Pack(arguments);
    EXPECT_EQ(row.exitCode, run.exitCode) << row.name;
    EXPECT_NE(std::string::npos, run.errors.find(row.message)) << row.name << ": " << run.errors;
    EXPECT_FALSE(FileExists(InPacker(L"wsnode64.exe"))) << row.name;
    EXPECT_NE(std::string::npos, Record().find("exit=" + std::to_string(row.exitCode))) << row.name;
  }
}

TEST_F(PackerTest, FailsWithoutItsSfxModule) {
  ASSERT_TRUE(WriteBytes(InPacker(L"root.7z"), kArchive));
  ASSERT_TRUE(::DeleteFileW(InPacker(L"7z.sfx").c_str()));
  const PackRun run = Pack(L"root.7z rmtsetup.exe 15");
  EXPECT_EQ(4u, run.exitCode);
  EXPECT_NE(std::string::npos, run.errors.find("7z.sfx"));
  EXPECT_FALSE(FileExists(InPacker(L"rmtsetup.exe")));
}

TEST_F(PackerTest, SwitchFilesDelayTheRunFailItAfterWritingOrWriteNothing) {
  ASSERT_TRUE(WriteBytes(InPacker(L"root.7z"), kArchive));
  ASSERT_TRUE(WriteBytes(InPacker(L"pack.delay"), "1500"));
  const ULONGLONG start = ::GetTickCount64();
  PackRun run = Pack(L"root.7z wsnode32.exe 15");
  EXPECT_GE(::GetTickCount64() - start, 1500u);
  EXPECT_EQ(0u, run.exitCode) << run.errors;

  ASSERT_TRUE(::DeleteFileW(InPacker(L"pack.delay").c_str()));
  ASSERT_TRUE(::DeleteFileW(InPacker(L"wsnode32.exe").c_str()));
  ASSERT_TRUE(WriteBytes(InPacker(L"pack.fail"), ""));
  run = Pack(L"root.7z wsnode32.exe 15");
  EXPECT_EQ(5u, run.exitCode);
  EXPECT_NE(std::string::npos, run.errors.find("pack.fail")) << run.errors;
  EXPECT_TRUE(FileExists(InPacker(L"wsnode32.exe")));
  EXPECT_EQ("archive=root.7z\r\noutput=wsnode32.exe\r\nsize=15\r\nexit=5\r\n", Record());

  ASSERT_TRUE(::DeleteFileW(InPacker(L"pack.fail").c_str()));
  ASSERT_TRUE(::DeleteFileW(InPacker(L"wsnode32.exe").c_str()));
  ASSERT_TRUE(WriteBytes(InPacker(L"pack.none"), ""));
  run = Pack(L"root.7z wsnode32.exe 15");
  EXPECT_EQ(0u, run.exitCode) << run.errors;
  EXPECT_FALSE(FileExists(InPacker(L"wsnode32.exe")));
  EXPECT_EQ("archive=root.7z\r\noutput=wsnode32.exe\r\nsize=15\r\nexit=0\r\n", Record());
}

}  // namespace
