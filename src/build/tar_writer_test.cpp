#include "build/tar_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <string>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::WriteBytes;

constexpr size_t kBlock = 512;

void SetMtime(const std::wstring& path, unsigned long long unixSeconds) {
  fw::UniqueKernelHandle handle(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  const unsigned long long ticks = (unixSeconds + 11644473600ull) * 10000000ull;
  const FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  ASSERT_TRUE(::SetFileTime(handle.get(), nullptr, nullptr, &time));
}

struct Header {
  std::string name, size, mtime;  // whole fields
  char typeflag;
};

// Reads the header at `offset`, checking what every header shares: the mode, zero owner and
// group, zeros after the typeflag, and a checksum over the block with its own field as spaces.
Header ParseHeader(const std::string& tar, size_t offset) {
  if (offset + kBlock > tar.size()) {
    ADD_FAILURE() << "no header at " << offset;
    return {};
  }
  const std::string block = tar.substr(offset, kBlock);
  EXPECT_EQ(std::string("000777 \0", 8), block.substr(100, 8)) << "mode at " << offset;
  EXPECT_EQ(std::string(16, '\0'), block.substr(108, 16)) << "owner at " << offset;
  EXPECT_EQ(std::string(355, '\0'), block.substr(157)) << "tail at " << offset;
  unsigned sum = 0;
  for (size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
  }
  char checksum[9];
  snprintf(checksum, sizeof(checksum), "%06o%c ", sum, '\0');
  EXPECT_EQ(std::string(checksum, 8), block.substr(148, 8)) << "checksum at " << offset;
  return {block.substr(0, 100), block.substr(124, 12), block.substr(136, 12), block[156]};
}

std::string NameField(const std::string& name) { return name + std::string(100 - name.size(), '\0'); }

std::string NumberField(const char* digits) {
  char field[13];
  snprintf(field, sizeof(field), "%11s ", digits);
  return field;
}

std::string Pattern(size_t length) {
  std::string bytes(length, '\0');
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<char>(i * 31 + 1);
  }
  return bytes;
}

class TarWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = tracelog::GetSettings();
    tracelog::GetSettings().filePath = logPath_.c_str();
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }

  std::wstring MakeFolder(const std::wstring& name = L"F") {
    EXPECT_TRUE(::CreateDirectoryW((dir_ / name).c_str(), nullptr));
    return dir_ / name;
  }

  // Archives `source` into a new TAR path: its bytes, or "" after the expected failure, which must
  // leave no file behind.
  std::string Archive(const std::wstring& source, bool expectSuccess = true) {
    const std::wstring tar = dir_ / (L"out" + std::to_wstring(++count_) + L".tar");
    DWORD error = 77;
    const bool ok = CreateTarFile(source.c_str(), tar.c_str(), &error);
    EXPECT_EQ(expectSuccess, ok);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(ok, FileExists(tar));
    return ok ? ReadBytes(tar) : std::string();
  }

  testsupport::TempDir dir_;
  std::wstring logPath_ = dir_ / L"trace.log";
  tracelog::Settings saved_;
  int count_ = 0;
};

TEST_F(TarWriterTest, EmptyFolderIsOneHeaderAndTheEndMarker) {
  const std::wstring folder = MakeFolder();
  SetMtime(folder, 1765000000);
  const std::string tar = Archive(folder);
  ASSERT_EQ(1536u, tar.size());
  const Header header = ParseHeader(tar, 0);
  EXPECT_EQ(NameField("F/"), header.name);
  EXPECT_EQ(NumberField("0"), header.size);
  EXPECT_EQ("15114741500 ", header.mtime) << "eleven digits leave no leading space";
  EXPECT_EQ('5', header.typeflag);
  EXPECT_EQ(std::string(1024, '\0'), tar.substr(512));
}

TEST_F(TarWriterTest, FileContentIsPaddedToWholeBlocks) {
  const struct {
    size_t length;
    const char* sizeDigits;
    size_t blocks;
  } rows[] = {{0, "0", 0},      {10, "12", 1},      {512, "1000", 1},
              {513, "1001", 2}, {4097, "10001", 9}, {524388, "2000144", 1025}};  // 2 copy pieces + 100
  for (const auto& row : rows) {
    SCOPED_TRACE(row.length);
    const std::wstring folder = MakeFolder(L"F" + std::to_wstring(row.length));
    const std::string content = Pattern(row.length);
    ASSERT_TRUE(WriteBytes(folder + L"\\a.bin", content));
    SetMtime(folder + L"\\a.bin", 1000000000);
    const std::string tar = Archive(folder);
    ASSERT_EQ((2 + row.blocks) * kBlock + 1024, tar.size());
    const std::string folderName = std::string("F").append(std::to_string(row.length));
    EXPECT_EQ(NameField(folderName + "/"), ParseHeader(tar, 0).name);
    const Header file = ParseHeader(tar, kBlock);
    EXPECT_EQ(NameField(folderName + "/a.bin"), file.name);
    EXPECT_EQ(NumberField(row.sizeDigits), file.size);
    EXPECT_EQ(NumberField("7346545000"), file.mtime);
    EXPECT_EQ('0', file.typeflag);
    EXPECT_EQ(content + std::string(row.blocks * kBlock - row.length, '\0') + std::string(1024, '\0'),
              tar.substr(2 * kBlock));
  }
}

TEST_F(TarWriterTest, NamesOverAHundredBytesUseTheLongNameExtension) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\" + std::wstring(98, L'n'), "short"));  // "F/" + 98 = 100 bytes
  std::string tar = Archive(folder);
  ASSERT_EQ(kBlock * 3 + 1024, tar.size());
  EXPECT_EQ(std::string("F/").append(98, 'n'), ParseHeader(tar, kBlock).name) << "no terminator";

  ASSERT_TRUE(::DeleteFileW((folder + L"\\" + std::wstring(98, L'n')).c_str()));
  ASSERT_TRUE(WriteBytes(folder + L"\\" + std::wstring(99, L'm'), "long"));  // 101 bytes
  SetMtime(folder + L"\\" + std::wstring(99, L'm'), 1765000000);
  const std::string name = std::string("F/").append(99, 'm');
  tar = Archive(folder);
  ASSERT_EQ(kBlock * 5 + 1024, tar.size());
  const Header longLink = ParseHeader(tar, kBlock);
  EXPECT_EQ(NameField("././@LongLink"), longLink.name);
  EXPECT_EQ(NumberField("146"), longLink.size) << "101 bytes and the terminator";
  EXPECT_EQ("15114741500 ", longLink.mtime);
  EXPECT_EQ('L', longLink.typeflag);
  EXPECT_EQ(name + std::string(kBlock - name.size(), '\0'), tar.substr(2 * kBlock, kBlock));
  const Header entry = ParseHeader(tar, 3 * kBlock);
  EXPECT_EQ(std::string(name, 0, 99).append(1, '\0'), entry.name);
  EXPECT_EQ(NumberField("4"), entry.size);
  EXPECT_EQ("long", tar.substr(4 * kBlock, 4));
}

TEST_F(TarWriterTest, SingleFileIsOneEntryAtTheRoot) {
  ASSERT_TRUE(WriteBytes(dir_ / L"alone.dat", Pattern(600)));
  const std::string tar = Archive(dir_ / L"alone.dat");
  ASSERT_EQ(kBlock * 3 + 1024, tar.size());
  const Header header = ParseHeader(tar, 0);
  EXPECT_EQ(NameField("alone.dat"), header.name);
  EXPECT_EQ(NumberField("1130"), header.size);
  EXPECT_EQ('0', header.typeflag);
  EXPECT_EQ(Pattern(600), tar.substr(kBlock, 600));
}

TEST_F(TarWriterTest, TrailingBackslashAndExtraFolderAttributesChangeNothing) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\a", "abc"));
  SetMtime(folder, 1700000000);
  const std::string plain = Archive(folder);
  EXPECT_EQ(plain, Archive(folder + L"\\"));
  ASSERT_TRUE(
      ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  SetMtime(folder, 1700000000);
  EXPECT_EQ(plain, Archive(folder));
}

TEST_F(TarWriterTest, RefusedSourcesLeaveNoArchive) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\a", Pattern(5000)));
  ASSERT_TRUE(::CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
  Archive(folder, false);
  Archive(dir_ / L"absent", false);
  Archive(std::wstring(MAX_PATH, L'a'), false);
  DWORD error = 0;
  EXPECT_FALSE(CreateTarFile(nullptr, (dir_ / L"x.tar").c_str(), &error));
  EXPECT_FALSE(CreateTarFile(folder.c_str(), nullptr, &error));
  EXPECT_FALSE(CreateTarFile(folder.c_str(), (dir_ / L"x.tar").c_str(), nullptr));
}

TEST_F(TarWriterTest, ExistingFileAtTheTarPathIsLeftUntouched) {
  const std::wstring tar = dir_ / L"exists.tar";
  ASSERT_TRUE(WriteBytes(tar, "previous build"));
  DWORD error = 5;
  EXPECT_FALSE(CreateTarFile(MakeFolder().c_str(), tar.c_str(), &error));
  EXPECT_EQ(0u, error);
  EXPECT_EQ("previous build", ReadBytes(tar));
}

TEST_F(TarWriterTest, ArchiveWrittenIntoTheFolderDoesNotTakeItselfIn) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\a.txt", "abc"));
  DWORD error = 0;
  ASSERT_TRUE(CreateTarFile(folder.c_str(), (folder + L"\\F.tar").c_str(), &error));
  const std::string tar = ReadBytes(folder + L"\\F.tar");
  ASSERT_EQ(3 * kBlock + 1024, tar.size());
  EXPECT_EQ(NameField("F/a.txt"), ParseHeader(tar, kBlock).name);
}

TEST_F(TarWriterTest, NamesAreStoredInTheAnsiCodePageOrRefused) {
  if (::GetACP() != 1252) {
    GTEST_SKIP() << "needs the Western European ANSI code page, have " << ::GetACP();
  }
  const std::wstring folder = MakeFolder(L"caf\u00e9");
  ASSERT_TRUE(WriteBytes(folder + L"\\na\u00efve.txt", "x"));
  const std::string tar = Archive(folder);
  EXPECT_EQ(NameField("caf\xe9/na\xefve.txt"), ParseHeader(tar, kBlock).name);
  // "?" in place of a character without an ANSI form would extract under another name.
  ASSERT_TRUE(WriteBytes(folder + L"\\\u4e2d.txt", "y"));
  Archive(folder, false);
}

TEST_F(TarWriterTest, FileBeyondTheSizeFieldIsRefusedBeforeAnythingIsWritten) {
  const std::wstring folder = MakeFolder();
  {
    fw::UniqueKernelHandle big(
        ::CreateFileW((folder + L"\\big.img").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kTarMaxFileSize + 1);  // sparse: 8 GiB
    ASSERT_TRUE(::SetFilePointerEx(big.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(big.get()));
  }
  Archive(folder, false);
  Archive(folder + L"\\big.img", false);
  char field[12];
  ASSERT_TRUE(tarformat::FormatNumberField(kTarMaxFileSize, field));
  EXPECT_EQ("77777777777 ", std::string(field, 12));
}

TEST_F(TarWriterTest, AddTarEntryRefusesBadKindsMissingAndLongNamesWithoutWriting) {
  const std::wstring file = dir_ / L"a.txt";
  ASSERT_TRUE(WriteBytes(file, "abc"));
  fw::UniqueCrtFile archive;
  ASSERT_EQ(0, _wsopen_s(archive.put(), (dir_ / L"direct.tar").c_str(), _O_BINARY | _O_CREAT | _O_WRONLY,
                         _SH_DENYNO, _S_IREAD | _S_IWRITE));
  const std::string longest(kTarMaxNameLength - 2, 'x');  // with "F/": exactly the limit
  const std::string tooLong = longest + "x";
  const struct {
    const char *folder, *file;
    int kind;
  } rows[] = {{"F", "a.txt", 0},     {"F", "a.txt", 4}, {nullptr, "a.txt", 1},    {"F", nullptr, 2},
              {nullptr, "a.txt", 3}, {"F", nullptr, 3}, {"F", tooLong.c_str(), 3}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "kind " << row.kind << ", " << (row.folder ? row.folder : "no folder")
                                    << ", " << (row.file ? row.file : "no file"));
    DWORD error = 9;
    EXPECT_FALSE(AddTarEntry(archive.get(), file.c_str(), row.folder, row.file, row.kind, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(0, _filelengthi64(archive.get()));
  }
  DWORD error = 9;
  EXPECT_TRUE(AddTarEntry(archive.get(), file.c_str(), "F", longest.c_str(), kTarEntryFolderFile, &error));
  EXPECT_EQ(4 * static_cast<long long>(kBlock), _filelengthi64(archive.get()));
}

}  // namespace
