// What the signing room reads from outside: pasted thumbprints, PKCS#7 signatures and PE files
// whose headers or certificate tables lie. None may be read past its end or taken as valid.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "signing/certificate.h"
#include "signing/pkcs7.h"
#include "signing/signed_file.h"
#include "support/temp_dir.h"

namespace {

TEST(Thumbprint, PastedFormsAreAcceptedAndEverythingElseRefused) {
  const std::vector<uint8_t> expected = {0xD5, 0xAC, 0xC1, 0xD6, 0xC6, 0x1C, 0xB4, 0x5C, 0x00, 0x39,
                                         0x46, 0x1B, 0x8D, 0x2F, 0x5B, 0x95, 0x85, 0x21, 0xF2, 0xF0};
  const struct {
    const wchar_t* text;
    bool valid;
  } rows[] = {
      {L"D5ACC1D6C61CB45C0039461B8D2F5B958521F2F0", true},
      {L"d5acc1d6c61cb45c0039461b8d2f5b958521f2f0", true},
      {L"\x200E"
       L"d5 ac c1 d6 c6 1c b4 5c 00 39 46 1b 8d 2f 5b 95 85 21 f2 f0",
       true},
      {L"D5:AC:C1:D6:C6:1C:B4:5C:00:39:46:1B:8D:2F:5B:95:85:21:F2:F0", true},
      {L"D5ACC1D6C61CB45C0039461B8D2F5B958521F2F", false},    // 39 digits
      {L"D5ACC1D6C61CB45C0039461B8D2F5B958521F2F00", false},  // 41
      {L"G5ACC1D6C61CB45C0039461B8D2F5B958521F2F0", false},
      {L"D5AC\x200E"
       L"C1D6C61CB45C0039461B8D2F5B958521F2F0",
       false},                                                    // U+200E only leads
      {L"D5ACC1D6C61CB45C0039461B8D2F5B958521F2F\xFF10", false},  // a full-width zero
      {L"", false},
  };
  for (const auto& row : rows) {
    std::vector<uint8_t> thumbprint;
    EXPECT_EQ(row.valid, signing::ParseThumbprint(row.text, thumbprint))
        << testing::PrintToString(std::wstring(row.text));
    if (row.valid) {
      EXPECT_EQ(expected, thumbprint);
    }
  }
}

// A signature with a stand-in key: its structure is what is read back.
signing::der::Bytes EncodeWith(size_t certificateSize) {
  signing::SignatureInput input;
  input.kind = signing::SignedFileKind::kPe;
  input.digest.assign(32, 0xAB);
  // A certificate-shaped element of the size asked for: long-form lengths of two and three bytes.
  input.certificates.push_back(
      signing::der::Element(signing::der::kSequence, std::vector<uint8_t>(certificateSize, 7)));
  static const signing::der::Bytes issuer = signing::der::Sequence({});
  input.signerIssuer = issuer;
  input.signerSerial = {0x00, 0x80, 0x01};
  input.sign = [](std::span<const uint8_t>, std::vector<uint8_t>& signature) {
    signature.assign(256, 0x5A);
    return true;
  };
  signing::der::Bytes encoded;
  EXPECT_TRUE(signing::EncodeSignature(input, encoded));
  return encoded;
}

TEST(Signature, ReadsBackWhatIsWrittenAtEverySizeAndRefusesEveryTruncation) {
  for (size_t certificateSize : {10u, 200u, 70000u}) {
    const signing::der::Bytes encoded = EncodeWith(certificateSize);
    EXPECT_EQ(encoded, EncodeWith(certificateSize)) << "the same inputs must give the same bytes";
    signing::ParsedSignature parsed;
    ASSERT_TRUE(signing::ParseSignature(encoded, parsed)) << certificateSize;
    EXPECT_EQ(signing::kSha256Oid, parsed.digestAlgorithm);
    EXPECT_EQ(std::vector<uint8_t>(32, 0xAB),
              std::vector<uint8_t>(parsed.digest.begin(), parsed.digest.end()));
    ASSERT_EQ(1u, parsed.signedData.certificates.size());
    const size_t header = certificateSize < 128     ? 2
                          : certificateSize < 256   ? 3
                          : certificateSize < 65536 ? 4
                                                    : 5;
    EXPECT_EQ(certificateSize + header, parsed.signedData.certificates[0].size());
    EXPECT_EQ(
        (std::vector<uint8_t>{0x00, 0x80, 0x01}),
        std::vector<uint8_t>(parsed.signedData.signerSerial.begin(), parsed.signedData.signerSerial.end()));
  }
  const signing::der::Bytes encoded = EncodeWith(300);
  for (size_t length = 0; length < encoded.size(); ++length) {
    signing::ParsedSignature parsed;
    EXPECT_FALSE(signing::ParseSignature(std::span<const uint8_t>(encoded).first(length), parsed)) << length;
  }
}

// The smallest PE32 header set: DOS header, signature, file header, optional header with 16
// data directories, in a file of `size` bytes; the certificate table entry as given.
std::string MinimalPe(uint32_t size, uint32_t tableOffset, uint32_t tableSize) {
  std::string file(size, '\0');
  const auto put32 = [&file](size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
      file[at + i] = static_cast<char>(value >> (8 * i));
    }
  };
  file[0] = 'M';
  file[1] = 'Z';
  put32(60, 64);
  file.replace(64, 4, std::string("PE\0\0", 4));
  file[64 + 4 + 16] = static_cast<char>(224);  // SizeOfOptionalHeader
  file[88] = 0x0B;                             // PE32 magic
  file[89] = 0x01;
  put32(88 + 92, 16);  // NumberOfRvaAndSizes
  put32(88 + 128, tableOffset);
  put32(88 + 132, tableSize);
  return file;
}

TEST(SignatureReader, LyingFilesAreRefusedAndUnsignedOnesReportedSo) {
  testsupport::TempDir dir;
  std::string table = MinimalPe(1024, 512, 512);
  table[512] = 0x00;  // WIN_CERTIFICATE length 0x2000: past the table
  table[513] = 0x20;
  table[518] = 2;
  std::string garbage = MinimalPe(1024, 512, 512);
  garbage[513] = 0x02;  // length 512, type PKCS#7, content no SignedData
  garbage[518] = 2;
  const struct {
    const char* name;
    std::string bytes;
    bool readable;
    bool present;
  } rows[] = {
      {"unsigned PE", MinimalPe(1024, 0, 0), true, false},
      {"table past the end", MinimalPe(1024, 800, 512), false, false},
      {"table over the headers", MinimalPe(1024, 16, 64), false, false},
      {"entry longer than its table", table, false, false},
      {"no SignedData", garbage, false, false},
      {"MZ alone", "MZ", false, false},
      {"text", "hello, world", false, false},
      {"compound file signature alone", std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8), false, false},
  };
  for (const auto& row : rows) {
    const std::wstring path = dir / L"file.bin";
    ASSERT_TRUE(testsupport::WriteBytes(path, row.bytes));
    signing::SignatureReport report;
    std::wstring error;
    EXPECT_EQ(row.readable, signing::ReadSignature(path, report, error)) << row.name;
    EXPECT_EQ(row.present, report.present) << row.name;
    EXPECT_EQ(row.readable, error.empty()) << row.name;
  }
}

}  // namespace
