#include "build/tar_writer.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>

#include <string>

#include "framework/handles.h"
#include "log/trace_log.h"
#include "support/temp_dir.h"

namespace {

using testsupport::FileExists;
using testsupport::ReadBytes;
using testsupport::TempDir;
using testsupport::WriteBytes;

constexpr size_t kBlock = 512;
const std::string kEndMarker(1024, '\0');

// Sets a file's or folder's modification time in seconds since 1970-01-01 UTC.
void SetMtime(const std::wstring& path, unsigned long long seconds) {
  fw::UniqueKernelHandle handle(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES,
                                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                              FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  ASSERT_TRUE(handle.valid());
  const unsigned long long ticks = (seconds + 11644473600ull) * 10000000ull;
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  ASSERT_TRUE(::SetFileTime(handle.get(), nullptr, nullptr, &time));
}

// The fields of one header block as they stand, checked for what every header shares: mode,
// zero owner and group, a valid checksum, and nothing after the typeflag.
struct Header {
  std::string name;  // the whole 100-byte field
  std::string size;
  std::string mtime;
  char typeflag;
};

Header ParseHeader(const std::string& archive, size_t offset) {
  Header header{};
  EXPECT_LE(offset + kBlock, archive.size());
  if (offset + kBlock > archive.size()) {
    return header;
  }
  const std::string block = archive.substr(offset, kBlock);
  header.name = block.substr(0, 100);
  header.size = block.substr(124, 12);
  header.mtime = block.substr(136, 12);
  header.typeflag = block[156];
  EXPECT_EQ(std::string("000777 \0", 8), block.substr(100, 8)) << "mode at " << offset;
  EXPECT_EQ(std::string(16, '\0'), block.substr(108, 16)) << "uid and gid at " << offset;
  EXPECT_EQ(std::string(355, '\0'), block.substr(157)) << "rest of the header at " << offset;
  unsigned sum = 0;
  for (size_t i = 0; i < kBlock; ++i) {
    sum += (i >= 148 && i < 156) ? ' ' : static_cast<unsigned char>(block[i]);
  }
  char expected[9];
  snprintf(expected, sizeof(expected), "%06o", sum);
  EXPECT_EQ(std::string(expected, 6) + std::string("\0 ", 2), block.substr(148, 8))
      << "checksum at " << offset;
  return header;
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
    logPath_ = dir_ / L"trace.log";
    tracelog::GetSettings().filePath = logPath_.c_str();
  }
  void TearDown() override { tracelog::GetSettings() = saved_; }

  // Makes folder F in the temporary folder, returning its path.
  std::wstring MakeFolder(const std::wstring& name = L"F") {
    const std::wstring folder = dir_ / name;
    EXPECT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr));
    return folder;
  }

  // Archives `source` into a fresh TAR path; returns the archive's bytes ("" when it failed).
  std::string Archive(const std::wstring& source, bool expectSuccess = true) {
    const std::wstring tar = dir_ / (L"out" + std::to_wstring(++count_) + L".tar");
    DWORD error = 77;
    const bool ok = CreateTarFile(source.c_str(), tar.c_str(), &error);
    EXPECT_EQ(expectSuccess, ok);
    EXPECT_EQ(0u, error);
    EXPECT_EQ(ok, FileExists(tar)) << "a failed archive must not remain";
    return ok ? ReadBytes(tar) : std::string();
  }

  TempDir dir_;
  std::wstring logPath_;
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
  EXPECT_EQ(std::string(10, ' ') + "0 ", header.size);
  EXPECT_EQ("15114741500 ", header.mtime) << "eleven digits leave no leading space";
  EXPECT_EQ('5', header.typeflag);
  EXPECT_EQ(kEndMarker, tar.substr(512));
}

TEST_F(TarWriterTest, FileContentIsPaddedToWholeBlocks) {
  struct Row {
    size_t length;
    const char* sizeDigits;
    size_t contentBlocks;
  };
  const Row rows[] = {{0, "0", 0},          {10, "12", 1},
                      {511, "777", 1},      {512, "1000", 1},
                      {513, "1001", 2},     {4097, "10001", 9},
                      {10000, "23420", 20}, {524388, "2000144", 1025}};  // two whole copy pieces and a part
  for (const Row& row : rows) {
    SCOPED_TRACE(row.length);
    const std::wstring folder = MakeFolder(L"F" + std::to_wstring(row.length));
    const std::string content = Pattern(row.length);
    ASSERT_TRUE(WriteBytes(folder + L"\\a.bin", content));
    SetMtime(folder + L"\\a.bin", 1000000000);
    const std::string tar = Archive(folder);
    ASSERT_EQ((2 + row.contentBlocks) * kBlock + 1024, tar.size());
    const std::string folderName = std::string("F").append(std::to_string(row.length));
    EXPECT_EQ(NameField(folderName + "/"), ParseHeader(tar, 0).name);
    const Header file = ParseHeader(tar, kBlock);
    EXPECT_EQ(NameField(folderName + "/a.bin"), file.name);
    EXPECT_EQ(NumberField(row.sizeDigits), file.size);
    EXPECT_EQ(NumberField("7346545000"), file.mtime);
    EXPECT_EQ('0', file.typeflag);
    EXPECT_EQ(content, tar.substr(2 * kBlock, row.length));
    EXPECT_EQ(std::string(row.contentBlocks * kBlock - row.length, '\0'),
              tar.substr(2 * kBlock + row.length, row.contentBlocks * kBlock - row.length));
    EXPECT_EQ(kEndMarker, tar.substr(tar.size() - 1024));
  }
}

TEST_F(TarWriterTest, EveryFileOfTheFolderFollowsItsEntry) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\one.txt", "first"));
  ASSERT_TRUE(WriteBytes(folder + L"\\two.txt", Pattern(700)));
  const std::string tar = Archive(folder);
  ASSERT_EQ(kBlock * (1 + 2 + 3) + 1024, tar.size());
  EXPECT_EQ(NameField("F/"), ParseHeader(tar, 0).name);
  // The enumeration decides the order: one.txt takes two blocks, two.txt three.
  const bool oneFirst = ParseHeader(tar, kBlock).name == NameField("F/one.txt");
  const size_t oneAt = oneFirst ? kBlock : 4 * kBlock;
  const size_t twoAt = oneFirst ? 3 * kBlock : kBlock;
  EXPECT_EQ(NameField("F/one.txt"), ParseHeader(tar, oneAt).name);
  EXPECT_EQ("first", tar.substr(oneAt + kBlock, 5));
  EXPECT_EQ(NameField("F/two.txt"), ParseHeader(tar, twoAt).name);
  EXPECT_EQ(Pattern(700), tar.substr(twoAt + kBlock, 700));
}

TEST_F(TarWriterTest, NamesOverAHundredBytesUseTheLongNameExtension) {
  // "F/" plus 98 bytes is exactly 100; plus 99 is 101.
  const std::wstring folder = MakeFolder();
  const std::string name98(98, 'n');
  ASSERT_TRUE(WriteBytes(folder + L"\\" + std::wstring(name98.begin(), name98.end()), "short"));
  std::string tar = Archive(folder);
  ASSERT_EQ(kBlock * 3 + 1024, tar.size());
  EXPECT_EQ(std::string("F/").append(name98), ParseHeader(tar, kBlock).name) << "100 bytes, no terminator";

  ASSERT_TRUE(::DeleteFileW((folder + L"\\" + std::wstring(name98.begin(), name98.end())).c_str()));
  const std::string name99(99, 'm');
  const std::string full = std::string("F/").append(name99);
  ASSERT_TRUE(WriteBytes(folder + L"\\" + std::wstring(name99.begin(), name99.end()), "long"));
  SetMtime(folder + L"\\" + std::wstring(name99.begin(), name99.end()), 1765000000);
  tar = Archive(folder);
  ASSERT_EQ(kBlock * 5 + 1024, tar.size());
  const Header longLink = ParseHeader(tar, kBlock);
  EXPECT_EQ(NameField("././@LongLink"), longLink.name);
  EXPECT_EQ(NumberField("146"), longLink.size) << "101 bytes and the terminator";
  EXPECT_EQ("15114741500 ", longLink.mtime);
  EXPECT_EQ('L', longLink.typeflag);
  EXPECT_EQ(full + std::string(kBlock - full.size(), '\0'), tar.substr(2 * kBlock, kBlock));
  const Header entry = ParseHeader(tar, 3 * kBlock);
  EXPECT_EQ(full.substr(0, 99) + '\0', entry.name);
  EXPECT_EQ(NumberField("4"), entry.size);
  EXPECT_EQ('0', entry.typeflag);
  EXPECT_EQ("long", tar.substr(4 * kBlock, 4));
}

TEST_F(TarWriterTest, SingleFileIsOneEntryAtTheRoot) {
  const std::wstring file = dir_ / L"alone.dat";
  ASSERT_TRUE(WriteBytes(file, Pattern(600)));
  const std::string tar = Archive(file);
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
  SetMtime(folder + L"\\a", 1700000000);
  const std::string plain = Archive(folder);
  ASSERT_FALSE(plain.empty());
  EXPECT_EQ(plain, Archive(folder + L"\\"));
  ASSERT_TRUE(
      ::SetFileAttributesW(folder.c_str(), FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED));
  SetMtime(folder, 1700000000);
  EXPECT_EQ(plain, Archive(folder));
}

TEST_F(TarWriterTest, SubFolderFailsAndLeavesNoArchive) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\a", Pattern(5000)));
  ASSERT_TRUE(::CreateDirectoryW((folder + L"\\sub").c_str(), nullptr));
  ASSERT_TRUE(WriteBytes(folder + L"\\z", "z"));
  Archive(folder, false);
}

TEST_F(TarWriterTest, ArchiveWrittenIntoTheFolderDoesNotTakeItselfIn) {
  const std::wstring folder = MakeFolder();
  ASSERT_TRUE(WriteBytes(folder + L"\\a.txt", "abc"));
  const std::wstring tar = folder + L"\\F.tar";
  DWORD error = 0;
  ASSERT_TRUE(CreateTarFile(folder.c_str(), tar.c_str(), &error));
  const std::string bytes = ReadBytes(tar);
  ASSERT_EQ(3 * kBlock + 1024, bytes.size());
  EXPECT_EQ(NameField("F/a.txt"), ParseHeader(bytes, kBlock).name);
}

TEST_F(TarWriterTest, ExistingFileAtTheTarPathIsLeftUntouched) {
  const std::wstring folder = MakeFolder();
  const std::wstring tar = dir_ / L"exists.tar";
  ASSERT_TRUE(WriteBytes(tar, "previous build"));
  DWORD error = 5;
  EXPECT_FALSE(CreateTarFile(folder.c_str(), tar.c_str(), &error));
  EXPECT_EQ(0u, error);
  EXPECT_EQ("previous build", ReadBytes(tar));
}

TEST_F(TarWriterTest, MissingOrUnusableSourcesFail) {
  DWORD error = 0;
  const std::wstring tar = dir_ / L"x.tar";
  EXPECT_FALSE(CreateTarFile(nullptr, tar.c_str(), &error));
  EXPECT_FALSE(CreateTarFile(dir_.path().c_str(), nullptr, &error));
  EXPECT_FALSE(CreateTarFile(dir_.path().c_str(), tar.c_str(), nullptr));
  Archive(dir_ / L"absent", false);
  Archive(dir_ / L"absent\\", false);
  Archive(std::wstring(MAX_PATH, L'a'), false);
  EXPECT_FALSE(CreateTarFile(MakeFolder().c_str(), (dir_ / L"absent\\x.tar").c_str(), &error))
      << "an archive that cannot be created";
}

TEST_F(TarWriterTest, NamesAreStoredInTheAnsiCodePageOrRefused) {
  if (::GetACP() != 1252) {
    GTEST_SKIP() << "needs the Western European ANSI code page, have " << ::GetACP();
  }
  const std::wstring folder = MakeFolder(L"caf\u00e9");
  ASSERT_TRUE(WriteBytes(folder + L"\\na\u00efve.txt", "x"));
  const std::string tar = Archive(folder);
  ASSERT_FALSE(tar.empty());
  EXPECT_EQ(NameField("caf\xe9/"), ParseHeader(tar, 0).name);
  EXPECT_EQ(NameField("caf\xe9/na\xefve.txt"), ParseHeader(tar, kBlock).name);

  // A character with no ANSI form would be stored as "?": the entry would extract under another
  // name.
  ASSERT_TRUE(WriteBytes(folder + L"\\\u4e2d.txt", "y"));
  Archive(folder, false);
}

TEST_F(TarWriterTest, FileBeyondTheSizeFieldIsRefusedBeforeAnythingIsWritten) {
  const std::wstring folder = MakeFolder();
  {
    // A sparse file one byte over 8 GiB - 1.
    fw::UniqueKernelHandle big(
        ::CreateFileW((folder + L"\\big.img").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(big.valid());
    LARGE_INTEGER end;
    end.QuadPart = static_cast<LONGLONG>(kTarMaxFileSize + 1);
    ASSERT_TRUE(::SetFilePointerEx(big.get(), end, nullptr, FILE_BEGIN));
    ASSERT_TRUE(::SetEndOfFile(big.get()));
  }
  Archive(folder, false);
  Archive(folder + L"\\big.img", false);

  // Written straight through AddTarEntry, it is refused before its header.
  const std::wstring tar = dir_ / L"direct.tar";
  fw::UniqueCrtFile archive;
  ASSERT_EQ(0, _wsopen_s(archive.put(), tar.c_str(), _O_BINARY | _O_CREAT | _O_WRONLY, _SH_DENYNO,
                         _S_IREAD | _S_IWRITE));
  DWORD error = 3;
  EXPECT_FALSE(AddTarEntry(archive.get(), (folder + L"\\big.img").c_str(), "F", "big.img",
                           kTarEntryFolderFile, &error));
  EXPECT_EQ(0u, error);
  EXPECT_EQ(0, _filelengthi64(archive.get()));
}

TEST_F(TarWriterTest, AddTarEntryRefusesBadKindsMissingNamesAndLongNamesWithoutWriting) {
  const std::wstring file = dir_ / L"a.txt";
  ASSERT_TRUE(WriteBytes(file, "abc"));
  const std::wstring tar = dir_ / L"direct.tar";
  fw::UniqueCrtFile archive;
  ASSERT_EQ(0, _wsopen_s(archive.put(), tar.c_str(), _O_BINARY | _O_CREAT | _O_WRONLY, _SH_DENYNO,
                         _S_IREAD | _S_IWRITE));
  const std::string longest(kTarMaxNameLength - 2, 'x');  // with "F/": exactly the limit
  const std::string tooLong(kTarMaxNameLength - 1, 'x');
  struct Row {
    const char* name;
    const char* folder;
    const char* file;
    int kind;
  };
  const Row rows[] = {
      {"kind 0", "F", "a.txt", 0},
      {"kind 4", "F", "a.txt", 4},
      {"folder entry without folder", nullptr, "a.txt", kTarEntryFolder},
      {"root file without file", "F", nullptr, kTarEntryRootFile},
      {"folder file without folder", nullptr, "a.txt", kTarEntryFolderFile},
      {"folder file without file", "F", nullptr, kTarEntryFolderFile},
      {"name one byte too long", "F", tooLong.c_str(), kTarEntryFolderFile},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    DWORD error = 9;
    EXPECT_FALSE(AddTarEntry(archive.get(), file.c_str(), row.folder, row.file, row.kind, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ(0, _filelengthi64(archive.get()));
  }
  DWORD error = 9;
  EXPECT_TRUE(AddTarEntry(archive.get(), file.c_str(), "F", longest.c_str(), kTarEntryFolderFile, &error));
  EXPECT_EQ(4 * static_cast<long long>(kBlock), _filelengthi64(archive.get()));
}

TEST(TarNumberField, ElevenOctalDigitsAtMost) {
  char field[12];
  ASSERT_TRUE(tarformat::FormatNumberField(kTarMaxFileSize, field));
  EXPECT_EQ("77777777777 ", std::string(field, 12));
  ASSERT_TRUE(tarformat::FormatNumberField(0xFFFFFFFFull, field));
  EXPECT_EQ("37777777777 ", std::string(field, 12));
  ASSERT_TRUE(tarformat::FormatNumberField(8, field));
  EXPECT_EQ("         10 ", std::string(field, 12));
  EXPECT_FALSE(tarformat::FormatNumberField(kTarMaxFileSize + 1, field));
}

}  // namespace
