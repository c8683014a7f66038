#include "signing/signed_file.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "signing/file_digest.h"
#include "signing/pkcs7.h"
#include "signing/timestamp.h"

namespace signing {

namespace {

constexpr wchar_t kTag[] = L"SignFile";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
// No signature of this program comes near it; a larger one is not read into memory.
constexpr DWORD kMaxSignature = 16 << 20;
constexpr WORD kWinCertRevision = 0x0200;
constexpr WORD kWinCertTypePkcs7 = 0x0002;

enum class FileKind { kPe, kMsi, kOther };

FileKind KindOf(HANDLE file) {
  uint8_t magic[8] = {};
  DWORD got = 0;
  if (!::ReadFile(file, magic, sizeof magic, &got, nullptr)) {
    return FileKind::kOther;
  }
  static constexpr uint8_t kCompoundFile[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  if (got == sizeof magic && std::memcmp(magic, kCompoundFile, sizeof magic) == 0) {
    return FileKind::kMsi;
  }
  return got >= 2 && magic[0] == 'M' && magic[1] == 'Z' ? FileKind::kPe : FileKind::kOther;
}

bool WriteAt(HANDLE file, uint64_t offset, const void* data, DWORD length) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD written = 0;
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
         ::WriteFile(file, data, length, &written, nullptr) && written == length;
}

void PutDword(uint8_t* p, uint32_t value) {
  for (int i = 0; i < 4; ++i) {
    p[i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

// What one signing run needs and what it found out.
struct Signing {
  const SigningCertificate& signer;
  const SignOptions& options;
  DWORD& error;
  std::wstring& problem;
};

// The PKCS#7 signature over `digest`, timestamped when asked: kSigned, kSignFailed when the key
// refused, kTimestampFailed when the authority gave no good token.
SignResult Encode(SignedFileKind kind, std::vector<uint8_t> digest, Signing& signing, der::Bytes& encoded) {
  const CERT_INFO* info = signing.signer.certificate()->pCertInfo;
  SignatureInput input;
  input.kind = kind;
  input.digest = std::move(digest);
  input.certificates = signing.signer.chain();
  input.signerIssuer = {info->Issuer.pbData, info->Issuer.cbData};
  // The certificate context keeps the serial number little-endian.
  input.signerSerial.assign(std::make_reverse_iterator(info->SerialNumber.pbData + info->SerialNumber.cbData),
                            std::make_reverse_iterator(info->SerialNumber.pbData));
  input.sign = [&](std::span<const uint8_t> data, std::vector<uint8_t>& signature) {
    return signing.signer.Sign(data, signature, signing.error);
  };
  bool timestampFailed = false;
  if (!signing.options.timestampUrl.empty()) {
    input.countersign = [&](std::span<const uint8_t> value, std::vector<der::Bytes>& attributes) {
      der::Bytes token;
      if (!RequestTimestamp(signing.options.timestampUrl, value, token, signing.problem,
                            signing.options.timestampTimeoutMs)) {
        timestampFailed = true;
        return false;
      }
      attributes.push_back(der::Sequence({der::Oid(kTimestampTokenOid), der::SetOf({token})}));
      return true;
    };
  }
  if (EncodeSignature(input, encoded)) {
    return SignResult::kSigned;
  }
  return timestampFailed ? SignResult::kTimestampFailed : SignResult::kSignFailed;
}

// The WIN_CERTIFICATE holding `signature`: length (its padding included), revision, type.
std::vector<uint8_t> CertificateTable(const der::Bytes& signature) {
  const uint32_t tableSize = static_cast<uint32_t>((8 + signature.size() + 7) & ~size_t{7});
  std::vector<uint8_t> table(tableSize, 0);
  PutDword(table.data(), tableSize);
  table[4] = static_cast<uint8_t>(kWinCertRevision & 0xFF);
  table[5] = static_cast<uint8_t>(kWinCertRevision >> 8);
  table[6] = static_cast<uint8_t>(kWinCertTypePkcs7 & 0xFF);
  table[7] = static_cast<uint8_t>(kWinCertTypePkcs7 >> 8);
  std::copy(signature.begin(), signature.end(), table.begin() + 8);
  return table;
}

// The signature a PE's certificate table holds, when the table is the file's end and holds one
// PKCS#7 signature; false otherwise.
bool ReadCertificateTable(HANDLE file, const PeLayout& layout, uint64_t size,
                          std::vector<uint8_t>& signature) {
  if (layout.certificateTableSize < 8 || layout.certificateTableSize > kMaxSignature ||
      layout.certificateTable + static_cast<uint64_t>(layout.certificateTableSize) != size) {
    return false;
  }
  std::vector<uint8_t> table(layout.certificateTableSize);
  LARGE_INTEGER position;
  position.QuadPart = layout.certificateTable;
  DWORD got = 0;
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ||
      !::ReadFile(file, table.data(), static_cast<DWORD>(table.size()), &got, nullptr) ||
      got != table.size()) {
    return false;
  }
  const uint32_t length =
      table[0] | (table[1] << 8) | (table[2] << 16) | (static_cast<uint32_t>(table[3]) << 24);
  if (length < 8 || length > table.size() || table[6] != kWinCertTypePkcs7 || table[7] != 0) {
    return false;
  }
  signature.assign(table.begin() + 8, table.begin() + length);
  return true;
}

SignResult SignPe(HANDLE file, Signing& signing) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    signing.error = ::GetLastError();
    return SignResult::kReadFailed;
  }
  // The certificate table's offset and size are 32-bit fields.
  constexpr uint64_t kMaxImage = 0xF0000000;
  const uint64_t original = static_cast<uint64_t>(size.QuadPart);
  if (original >= kMaxImage) {
    return SignResult::kUnsupported;
  }
  PeLayout layout;
  switch (ReadPeLayout(file, original, layout)) {
    case PeRead::kOk:
      break;
    case PeRead::kNotPe:
      return SignResult::kUnsupported;
    case PeRead::kReadFailed:
      signing.error = ::GetLastError();
      return SignResult::kReadFailed;
  }
  // A signature already there (a vendor's) is kept: this one is added to it as a nested
  // signature over the same digest, which leaves out the certificate table.
  std::vector<uint8_t> outer;
  const bool nest = layout.certificateTable != 0 || layout.certificateTableSize != 0;
  if (nest && !ReadCertificateTable(file, layout, original, outer)) {
    return SignResult::kAlreadySigned;
  }
  // The certificate table starts on an 8-byte boundary; the padding before it is hashed.
  const uint32_t padded =
      nest ? layout.certificateTable : static_cast<uint32_t>((original + 7) & ~uint64_t{7});
  static constexpr uint8_t kZeros[8] = {};
  if (!nest && padded != original &&
      !WriteAt(file, original, kZeros, static_cast<DWORD>(padded - original))) {
    signing.error = ::GetLastError();
    return SignResult::kWriteFailed;
  }
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  PeChecksum checksum;
  if (!DigestPe(file, layout, padded, hasher, &checksum)) {
    signing.error = ::GetLastError();
    return SignResult::kReadFailed;
  }
  std::vector<uint8_t> digest = hasher.Finish();
  der::Bytes signature;
  if (digest.empty()) {
    return SignResult::kSignFailed;
  }
  if (const SignResult encoded = Encode(SignedFileKind::kPe, std::move(digest), signing, signature);
      encoded != SignResult::kSigned) {
    return encoded;
  }
  if (nest) {
    der::Bytes combined;
    if (!NestSignature(outer, signature, combined)) {
      return SignResult::kAlreadySigned;
    }
    signature = std::move(combined);
  }
  const std::vector<uint8_t> table = CertificateTable(signature);
  const uint32_t tableSize = static_cast<uint32_t>(table.size());
  uint8_t entry[8];
  PutDword(entry, padded);
  PutDword(entry + 4, tableSize);
  // The checksum so far covered the file with a zero entry and no table.
  checksum.Add(table.data(), table.size());
  checksum.Add(entry, sizeof entry);
  uint8_t sum[4];
  PutDword(sum, checksum.Finish(padded + tableSize));
  // The table goes last and the file ends with it.
  if (!WriteAt(file, layout.securityEntryOffset, entry, sizeof entry) ||
      !WriteAt(file, layout.checksumOffset, sum, sizeof sum) ||
      !WriteAt(file, padded, table.data(), tableSize) || !::SetEndOfFile(file)) {
    signing.error = ::GetLastError();
    return SignResult::kWriteFailed;
  }
  return SignResult::kSigned;
}

SignResult SignMsi(const std::wstring& path, Signing& signing) {
  fw::UniqueCom<IStorage> root;
  HRESULT hr = ::StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED,
                                  STGFMT_STORAGE, 0, nullptr, nullptr, IID_IStorage,
                                  reinterpret_cast<void**>(root.put()));
  if (FAILED(hr)) {
    signing.error = static_cast<DWORD>(hr);
    return SignResult::kReadFailed;
  }
  // A template's signature cannot cover what the build inserted: it goes, with its extension.
  for (const wchar_t* name : {kMsiSignatureStream, kMsiSignatureExStream}) {
    hr = root.get()->DestroyElement(name);
    if (FAILED(hr) && hr != STG_E_FILENOTFOUND) {
      signing.error = static_cast<DWORD>(hr);
      return SignResult::kWriteFailed;
    }
  }
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  if (!DigestMsi(root.get(), hasher, hr)) {
    signing.error = static_cast<DWORD>(hr);
    return SignResult::kReadFailed;
  }
  std::vector<uint8_t> digest = hasher.Finish();
  der::Bytes signature;
  if (digest.empty()) {
    return SignResult::kSignFailed;
  }
  if (const SignResult encoded = Encode(SignedFileKind::kMsi, std::move(digest), signing, signature);
      encoded != SignResult::kSigned) {
    return encoded;
  }
  fw::UniqueCom<IStream> stream;
  ULONG written = 0;
  if (FAILED(hr = root.get()->CreateStream(
                 kMsiSignatureStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.put())) ||
      FAILED(hr = stream.get()->Write(signature.data(), static_cast<ULONG>(signature.size()), &written)) ||
      written != signature.size() || FAILED(hr = stream.get()->Commit(STGC_DEFAULT))) {
    signing.error = static_cast<DWORD>(FAILED(hr) ? hr : STG_E_WRITEFAULT);
    return SignResult::kWriteFailed;
  }
  stream.reset();
  if (FAILED(hr = root.get()->Commit(STGC_DEFAULT))) {
    signing.error = static_cast<DWORD>(hr);
    return SignResult::kWriteFailed;
  }
  return SignResult::kSigned;
}

std::wstring Hex(const std::vector<uint8_t>& bytes) {
  static constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
  std::wstring text;
  for (uint8_t byte : bytes) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

// Fills the report from a signature's bytes and the digest recomputed with `recompute`.
template <typename Recompute>
bool Report(std::span<const uint8_t> encoded, Recompute recompute, SignatureReport& report,
            std::wstring& error, int depth = 0) {
  ParsedSignature parsed;
  if (!ParseSignature(encoded, parsed)) {
    error = L"the signature is no Authenticode SignedData";
    return false;
  }
  report.present = true;
  const wchar_t* algorithm = nullptr;
  if (parsed.digestAlgorithm == kSha256Oid) {
    report.digestAlgorithm = L"SHA-256";
    algorithm = BCRYPT_SHA256_ALGORITHM;
  } else if (parsed.digestAlgorithm == kSha1Oid) {
    report.digestAlgorithm = L"SHA-1";
    algorithm = BCRYPT_SHA1_ALGORITHM;
  } else {
    report.digestAlgorithm.assign(parsed.digestAlgorithm.begin(), parsed.digestAlgorithm.end());
  }
  if (const fw::UniqueCertContext cert = FindSignerCertificate(parsed.signedData)) {
    const CERT_INFO* info = cert.get()->pCertInfo;
    report.subject = NameText(info->Subject);
    report.issuer = NameText(info->Issuer);
    std::vector<uint8_t> thumbprint(20);
    DWORD length = static_cast<DWORD>(thumbprint.size());
    if (::CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, thumbprint.data(), &length)) {
      thumbprint.resize(length);
      report.thumbprint = Hex(thumbprint);
    }
  }
  if (algorithm != nullptr) {
    Hasher hasher(algorithm);
    if (!recompute(hasher)) {
      error = L"the file cannot be read to recompute its digest";
      return false;
    }
    const std::vector<uint8_t> digest = hasher.Finish();
    report.digestMatches =
        std::equal(digest.begin(), digest.end(), parsed.digest.begin(), parsed.digest.end());
  }
  for (const UnsignedAttribute& attribute : parsed.signedData.unsignedAttributes) {
    if (attribute.type == kTimestampTokenOid && !attribute.values.empty()) {
      TimestampToken token;
      if (!ParseTimestampToken(attribute.values.front(), token)) {
        error = L"the signature's timestamp cannot be read";
        return false;
      }
      report.timestampTime = token.time;
      report.timestampAuthority = token.authority;
    } else if (attribute.type == kNestedSignatureOid) {
      // A nested signature covers the same file; one level of them is what signers make.
      if (depth > 0) {
        error = L"a nested signature holds nested signatures of its own";
        return false;
      }
      for (std::span<const uint8_t> value : attribute.values) {
        if (!Report(value, recompute, report.nested.emplace_back(), error, depth + 1)) {
          return false;
        }
      }
    }
  }
  return true;
}

bool ReadPeSignature(HANDLE file, SignatureReport& report, std::wstring& error) {
  LARGE_INTEGER size{};
  PeLayout layout;
  if (!::GetFileSizeEx(file, &size) ||
      ReadPeLayout(file, static_cast<uint64_t>(size.QuadPart), layout) != PeRead::kOk) {
    error = L"the file is no PE image that can be read";
    return false;
  }
  if (layout.certificateTableSize == 0) {
    return true;
  }
  std::vector<uint8_t> signature;
  if (!ReadCertificateTable(file, layout, static_cast<uint64_t>(size.QuadPart), signature)) {
    error = L"the certificate table holds no PKCS#7 signature at the file's end";
    return false;
  }
  return Report(
      signature,
      [&](Hasher& hasher) { return DigestPe(file, layout, layout.certificateTable, hasher, nullptr); },
      report, error);
}

bool ReadMsiSignature(const std::wstring& path, SignatureReport& report, std::wstring& error) {
  fw::UniqueCom<IStorage> root;
  if (FAILED(::StgOpenStorageEx(path.c_str(), STGM_READ | STGM_SHARE_DENY_WRITE, STGFMT_STORAGE, 0, nullptr,
                                nullptr, IID_IStorage, reinterpret_cast<void**>(root.put())))) {
    error = L"the database cannot be opened as a compound file";
    return false;
  }
  fw::UniqueCom<IStream> stream;
  const HRESULT opened =
      root.get()->OpenStream(kMsiSignatureStream, nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0, stream.put());
  if (opened == STG_E_FILENOTFOUND) {
    return true;
  }
  STATSTG stat{};
  if (FAILED(opened) || FAILED(stream.get()->Stat(&stat, STATFLAG_NONAME)) ||
      stat.cbSize.QuadPart > kMaxSignature) {
    error = L"the signature stream cannot be read";
    return false;
  }
  std::vector<uint8_t> signature(static_cast<size_t>(stat.cbSize.QuadPart));
  ULONG got = 0;
  if (FAILED(stream.get()->Read(signature.data(), static_cast<ULONG>(signature.size()), &got)) ||
      got != signature.size()) {
    error = L"the signature stream cannot be read";
    return false;
  }
  stream.reset();
  return Report(
      signature,
      [&](Hasher& hasher) {
        HRESULT hr = S_OK;
        return DigestMsi(root.get(), hasher, hr);
      },
      report, error);
}

}  // namespace

SignResult SignFile(const std::wstring& path, const SigningCertificate& signer, DWORD& error,
                    const SignOptions& options, std::wstring* problem) {
  error = 0;
  std::wstring found;
  Signing signing{signer, options, error, found};
  TraceLog(2, kTag, L"Entry.");
  FileKind kind;
  SignResult result;
  {
    fw::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
      error = ::GetLastError();
      TraceLog(1, kTag, L"CreateFile failed (Err -> %u)", error);
      return SignResult::kReadFailed;
    }
    kind = KindOf(file.get());
    result = kind == FileKind::kPe ? SignPe(file.get(), signing) : SignResult::kUnsupported;
    if (kind == FileKind::kPe && !file.Close() && result == SignResult::kSigned) {
      error = ::GetLastError();
      result = SignResult::kWriteFailed;
    }
  }
  if (kind == FileKind::kMsi) {
    result = SignMsi(path, signing);
  }
  TraceLog(result == SignResult::kSigned ? 2 : 1, kTag, L"Exit: result %d (Err -> %u) %s",
           static_cast<int>(result), error, found.c_str());
  if (problem != nullptr) {
    *problem = found;
  }
  return result;
}

bool ReadSignature(const std::wstring& path, SignatureReport& report, std::wstring& error) {
  report = {};
  error.clear();
  FileKind kind;
  {
    fw::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) {
      error = L"the file cannot be opened";
      return false;
    }
    kind = KindOf(file.get());
    if (kind == FileKind::kPe) {
      return ReadPeSignature(file.get(), report, error);
    }
  }
  if (kind == FileKind::kMsi) {
    return ReadMsiSignature(path, report, error);
  }
  error = L"the file is neither a PE image nor an MSI database";
  return false;
}

}  // namespace signing
