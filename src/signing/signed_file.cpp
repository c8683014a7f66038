#include "signing/signed_file.h"

#include <objbase.h>

#include <algorithm>
#include <cstring>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "signing/file_digest.h"
#include "signing/pkcs7.h"

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

// The PKCS#7 signature over `digest`; false when the key refused.
bool Encode(SignedFileKind kind, std::vector<uint8_t> digest, const SigningCertificate& signer,
            der::Bytes& encoded, DWORD& error) {
  const CERT_INFO* info = signer.certificate()->pCertInfo;
  SignatureInput input;
  input.kind = kind;
  input.digest = std::move(digest);
  input.certificates = signer.chain();
  input.signerIssuer = {info->Issuer.pbData, info->Issuer.cbData};
  // The certificate context keeps the serial number little-endian.
  input.signerSerial.assign(std::make_reverse_iterator(info->SerialNumber.pbData + info->SerialNumber.cbData),
                            std::make_reverse_iterator(info->SerialNumber.pbData));
  input.sign = [&](std::span<const uint8_t> data, std::vector<uint8_t>& signature) {
    return signer.Sign(data, signature, error);
  };
  return EncodeSignature(input, encoded);
}

SignResult SignPe(HANDLE file, const SigningCertificate& signer, DWORD& error) {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(file, &size)) {
    error = ::GetLastError();
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
      error = ::GetLastError();
      return SignResult::kReadFailed;
  }
  if (layout.certificateTable != 0 || layout.certificateTableSize != 0) {
    return SignResult::kAlreadySigned;
  }
  // The certificate table starts on an 8-byte boundary; the padding before it is hashed.
  const uint32_t padded = static_cast<uint32_t>((original + 7) & ~uint64_t{7});
  static constexpr uint8_t kZeros[8] = {};
  if (padded != original && !WriteAt(file, original, kZeros, static_cast<DWORD>(padded - original))) {
    error = ::GetLastError();
    return SignResult::kWriteFailed;
  }
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  PeChecksum checksum;
  if (!DigestPe(file, layout, padded, hasher, &checksum)) {
    error = ::GetLastError();
    return SignResult::kReadFailed;
  }
  std::vector<uint8_t> digest = hasher.Finish();
  der::Bytes signature;
  if (digest.empty() || !Encode(SignedFileKind::kPe, std::move(digest), signer, signature, error)) {
    return SignResult::kSignFailed;
  }
  // WIN_CERTIFICATE: length (its padding included), revision, type, then the signature.
  const uint32_t tableSize = static_cast<uint32_t>((8 + signature.size() + 7) & ~size_t{7});
  std::vector<uint8_t> table(tableSize, 0);
  PutDword(table.data(), tableSize);
  table[4] = static_cast<uint8_t>(kWinCertRevision & 0xFF);
  table[5] = static_cast<uint8_t>(kWinCertRevision >> 8);
  table[6] = static_cast<uint8_t>(kWinCertTypePkcs7 & 0xFF);
  table[7] = static_cast<uint8_t>(kWinCertTypePkcs7 >> 8);
  std::copy(signature.begin(), signature.end(), table.begin() + 8);
  uint8_t entry[8];
  PutDword(entry, padded);
  PutDword(entry + 4, tableSize);
  // The checksum so far covered the file with a zero entry and no table.
  checksum.Add(table.data(), table.size());
  checksum.Add(entry, sizeof entry);
  uint8_t sum[4];
  PutDword(sum, checksum.Finish(padded + tableSize));
  if (!WriteAt(file, padded, table.data(), tableSize) ||
      !WriteAt(file, layout.securityEntryOffset, entry, sizeof entry) ||
      !WriteAt(file, layout.checksumOffset, sum, sizeof sum)) {
    error = ::GetLastError();
    return SignResult::kWriteFailed;
  }
  return SignResult::kSigned;
}

SignResult SignMsi(const std::wstring& path, const SigningCertificate& signer, DWORD& error) {
  fw::UniqueCom<IStorage> root;
  HRESULT hr = ::StgOpenStorageEx(path.c_str(), STGM_READWRITE | STGM_SHARE_EXCLUSIVE | STGM_TRANSACTED,
                                  STGFMT_STORAGE, 0, nullptr, nullptr, IID_IStorage,
                                  reinterpret_cast<void**>(root.put()));
  if (FAILED(hr)) {
    error = static_cast<DWORD>(hr);
    return SignResult::kReadFailed;
  }
  // A template's signature cannot cover what the build inserted: it goes, with its extension.
  for (const wchar_t* name : {kMsiSignatureStream, kMsiSignatureExStream}) {
    hr = root.get()->DestroyElement(name);
    if (FAILED(hr) && hr != STG_E_FILENOTFOUND) {
      error = static_cast<DWORD>(hr);
      return SignResult::kWriteFailed;
    }
  }
  Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  if (!DigestMsi(root.get(), hasher, hr)) {
    error = static_cast<DWORD>(hr);
    return SignResult::kReadFailed;
  }
  std::vector<uint8_t> digest = hasher.Finish();
  der::Bytes signature;
  if (digest.empty() || !Encode(SignedFileKind::kMsi, std::move(digest), signer, signature, error)) {
    return SignResult::kSignFailed;
  }
  fw::UniqueCom<IStream> stream;
  ULONG written = 0;
  if (FAILED(hr = root.get()->CreateStream(
                 kMsiSignatureStream, STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0, stream.put())) ||
      FAILED(hr = stream.get()->Write(signature.data(), static_cast<ULONG>(signature.size()), &written)) ||
      written != signature.size() || FAILED(hr = stream.get()->Commit(STGC_DEFAULT))) {
    error = static_cast<DWORD>(FAILED(hr) ? hr : STG_E_WRITEFAULT);
    return SignResult::kWriteFailed;
  }
  stream.reset();
  if (FAILED(hr = root.get()->Commit(STGC_DEFAULT))) {
    error = static_cast<DWORD>(hr);
    return SignResult::kWriteFailed;
  }
  return SignResult::kSigned;
}

std::wstring NameText(const CERT_NAME_BLOB& name) {
  CERT_NAME_BLOB copy = name;
  const DWORD length = ::CertNameToStrW(X509_ASN_ENCODING, &copy,
                                        CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, nullptr, 0);
  std::wstring text(length, L'\0');
  ::CertNameToStrW(X509_ASN_ENCODING, &copy, CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG, text.data(),
                   length);
  text.resize(length > 0 ? length - 1 : 0);
  return text;
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
            std::wstring& error) {
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
  for (std::span<const uint8_t> der : parsed.certificates) {
    fw::UniqueCertContext cert(
        ::CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
    if (!cert) {
      continue;
    }
    const CERT_INFO* info = cert.get()->pCertInfo;
    const std::vector<uint8_t> serial(
        std::make_reverse_iterator(info->SerialNumber.pbData + info->SerialNumber.cbData),
        std::make_reverse_iterator(info->SerialNumber.pbData));
    if (!std::equal(parsed.signerIssuer.begin(), parsed.signerIssuer.end(), info->Issuer.pbData,
                    info->Issuer.pbData + info->Issuer.cbData) ||
        !std::equal(parsed.signerSerial.begin(), parsed.signerSerial.end(), serial.begin(), serial.end())) {
      continue;
    }
    report.subject = NameText(info->Subject);
    report.issuer = NameText(info->Issuer);
    std::vector<uint8_t> thumbprint(20);
    DWORD length = static_cast<DWORD>(thumbprint.size());
    if (::CertGetCertificateContextProperty(cert.get(), CERT_SHA1_HASH_PROP_ID, thumbprint.data(), &length)) {
      thumbprint.resize(length);
      report.thumbprint = Hex(thumbprint);
    }
    break;
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
  if (layout.certificateTableSize < 8 || layout.certificateTableSize > kMaxSignature) {
    error = L"the certificate table has an impossible size";
    return false;
  }
  std::vector<uint8_t> table(layout.certificateTableSize);
  LARGE_INTEGER position;
  position.QuadPart = layout.certificateTable;
  DWORD got = 0;
  if (!::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ||
      !::ReadFile(file, table.data(), static_cast<DWORD>(table.size()), &got, nullptr) ||
      got != table.size()) {
    error = L"the certificate table cannot be read";
    return false;
  }
  const uint32_t length =
      table[0] | (table[1] << 8) | (table[2] << 16) | (static_cast<uint32_t>(table[3]) << 24);
  if (length < 8 || length > table.size() || table[6] != kWinCertTypePkcs7 || table[7] != 0) {
    error = L"the certificate table holds no PKCS#7 signature";
    return false;
  }
  return Report(
      std::span<const uint8_t>(table).subspan(8, length - 8),
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

SignResult SignFile(const std::wstring& path, const SigningCertificate& signer, DWORD& error) {
  error = 0;
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
    result = kind == FileKind::kPe ? SignPe(file.get(), signer, error) : SignResult::kUnsupported;
    if (kind == FileKind::kPe && !file.Close() && result == SignResult::kSigned) {
      error = ::GetLastError();
      result = SignResult::kWriteFailed;
    }
  }
  if (kind == FileKind::kMsi) {
    result = SignMsi(path, signer, error);
  }
  TraceLog(result == SignResult::kSigned ? 2 : 1, kTag, L"Exit: result %d (Err -> %u)",
           static_cast<int>(result), error);
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
