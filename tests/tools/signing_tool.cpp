// signing_tool: takes a code-signing certificate and signs files with it, from a shell test that
// checks the results with osslsigncode, 7zz and msitools; also puts test keys and certificates
// into the stores and lists the key containers, so that the test can see none is left behind.
//
//   signing_tool pfx PFX PASSWORD_VARIABLE [FILE...]   take the certificate from a PFX file
//   signing_tool thumbprint THUMBPRINT [FILE...]        take it from CurrentUser\My, LocalMachine\My
//   signing_tool inspect FILE                           print the signature's report
//   signing_tool add CERT.der KEY.der|- NAME capi|cng   the certificate into CurrentUser\My, its
//                                                       key (PKCS#1 DER) into a container NAME
//   signing_tool add-ca CERT.der                        the certificate into CurrentUser\CA
//   signing_tool remove THUMBPRINT NAME capi|cng        both out again
//   signing_tool containers                             every CryptoAPI key container, one a line
//   signing_tool old-signature MSI                      gives MSI what an earlier signer may leave:
//                                                       \005MsiDigitalSignatureEx, and a storage
//                                                       with a class ID and streams of its own
//
// pfx and thumbprint print "check: NAME" and, per file, "FILE: RESULT". Exit code 0 when every
// step worked, 10 + the check's value for a refused certificate, 20 + the result's value for a
// file that could not be signed, 1 for another failure, 2 for a wrong command line. The trace goes
// to the file named by the environment variable SIGNING_TOOL_LOG, if set.

#include <windows.h>
// After windows.h: these rely on its types.
#include <bcrypt.h>
#include <ncrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <cwchar>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "signing/certificate.h"
#include "signing/signed_file.h"

namespace {

std::vector<BYTE> ReadAll(const wchar_t* path) {
  fw::UniqueKernelHandle file(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  std::vector<BYTE> bytes;
  LARGE_INTEGER size{};
  if (!file || !::GetFileSizeEx(file.get(), &size)) {
    return bytes;
  }
  bytes.resize(static_cast<size_t>(size.QuadPart));
  DWORD got = 0;
  if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr)) {
    bytes.clear();
  }
  return bytes;
}

const wchar_t* ResultName(signing::SignResult result) {
  switch (result) {
    case signing::SignResult::kSigned:
      return L"signed";
    case signing::SignResult::kAlreadySigned:
      return L"already signed";
    case signing::SignResult::kUnsupported:
      return L"unsupported";
    case signing::SignResult::kReadFailed:
      return L"read failed";
    case signing::SignResult::kWriteFailed:
      return L"write failed";
    case signing::SignResult::kSignFailed:
      return L"sign failed";
    case signing::SignResult::kTimestampFailed:
      return L"timestamp failed";
  }
  return L"?";
}

int SignAll(signing::CertificateCheck check, const std::unique_ptr<signing::SigningCertificate>& signer,
            int argc, wchar_t** argv, int first) {
  wprintf(L"check: %ls\n", signing::CertificateCheckName(check));
  if (check != signing::CertificateCheck::kOk) {
    return 10 + static_cast<int>(check);
  }
  for (int i = first; i < argc; ++i) {
    DWORD error = 0;
    const signing::SignResult result = signing::SignFile(argv[i], *signer, error);
    wprintf(L"%ls: %ls (%#lx)\n", argv[i], ResultName(result), error);
    if (result != signing::SignResult::kSigned) {
      return 20 + static_cast<int>(result);
    }
  }
  return 0;
}

int Inspect(const wchar_t* path) {
  signing::SignatureReport report;
  std::wstring error;
  if (!signing::ReadSignature(path, report, error)) {
    wprintf(L"error: %ls\n", error.c_str());
    return 1;
  }
  wprintf(L"present: %ls\n", report.present ? L"yes" : L"no");
  if (report.present) {
    wprintf(L"subject: %ls\nissuer: %ls\nthumbprint: %ls\ndigest: %ls\n", report.subject.c_str(),
            report.issuer.c_str(), report.thumbprint.c_str(), report.digestAlgorithm.c_str());
    wprintf(L"digest matches: %ls\n", !report.digestMatches   ? L"unknown"
                                      : *report.digestMatches ? L"yes"
                                                              : L"no");
    for (const signing::SignatureReport& nested : report.nested) {
      wprintf(L"nested thumbprint: %ls\nnested digest matches: %ls\n", nested.thumbprint.c_str(),
              nested.digestMatches.value_or(false) ? L"yes" : L"no");
    }
  }
  return 0;
}

fw::UniqueCertStore OpenUserStore(const wchar_t* name) {
  return fw::UniqueCertStore(
      ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, name));
}

// The CryptoAPI private key blob of a PKCS#1 RSAPrivateKey.
std::vector<BYTE> PrivateKeyBlob(const std::vector<BYTE>& der) {
  DWORD size = 0;
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, der.data(),
                             static_cast<DWORD>(der.size()), 0, nullptr, nullptr, &size)) {
    return {};
  }
  std::vector<BYTE> blob(size);
  if (!::CryptDecodeObjectEx(X509_ASN_ENCODING, PKCS_RSA_PRIVATE_KEY, der.data(),
                             static_cast<DWORD>(der.size()), 0, nullptr, blob.data(), &size)) {
    return {};
  }
  blob.resize(size);
  return blob;
}

// The same key as a BCRYPT_RSAPRIVATE_BLOB: the CryptoAPI blob's little-endian numbers turned
// big-endian.
std::vector<BYTE> CngBlob(const std::vector<BYTE>& capi) {
  const auto* rsa = reinterpret_cast<const RSAPUBKEY*>(capi.data() + sizeof(BLOBHEADER));
  const DWORD modulus = rsa->bitlen / 8;
  const DWORD prime = modulus / 2;
  const BYTE* numbers = capi.data() + sizeof(BLOBHEADER) + sizeof(RSAPUBKEY);
  BCRYPT_RSAKEY_BLOB header{BCRYPT_RSAPRIVATE_MAGIC, rsa->bitlen, 4, modulus, prime, prime};
  std::vector<BYTE> blob(reinterpret_cast<BYTE*>(&header), reinterpret_cast<BYTE*>(&header) + sizeof header);
  const DWORD exponent = rsa->pubexp;
  for (int i = 3; i >= 0; --i) {
    blob.push_back(static_cast<BYTE>(exponent >> (8 * i)));
  }
  const auto bigEndian = [&](const BYTE* p, DWORD length) {
    blob.insert(blob.end(), std::make_reverse_iterator(p + length), std::make_reverse_iterator(p));
  };
  bigEndian(numbers, modulus);
  bigEndian(numbers + modulus, prime);
  bigEndian(numbers + modulus + prime, prime);
  return blob;
}

struct NcryptTraits {
  using Type = NCRYPT_HANDLE;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept { return ::NCryptFreeObject(h) == ERROR_SUCCESS; }
};
using UniqueNcrypt = fw::UniqueHandle<NcryptTraits>;

bool ImportKey(const std::vector<BYTE>& der, const wchar_t* name, bool cng) {
  const std::vector<BYTE> capiBlob = PrivateKeyBlob(der);
  if (capiBlob.empty()) {
    fwprintf(stderr, L"the key cannot be decoded (Err -> %lu)\n", ::GetLastError());
    return false;
  }
  if (!cng) {
    fw::UniqueCryptProvider provider;
    HCRYPTKEY key = 0;
    if (!::CryptAcquireContextW(provider.put(), name, nullptr, PROV_RSA_AES, CRYPT_NEWKEYSET) ||
        !::CryptImportKey(provider.get(), capiBlob.data(), static_cast<DWORD>(capiBlob.size()), 0, 0, &key)) {
      fwprintf(stderr, L"the key cannot be imported (Err -> %#lx)\n", ::GetLastError());
      return false;
    }
    ::CryptDestroyKey(key);
    return true;
  }
  std::vector<BYTE> blob = CngBlob(capiBlob);
  UniqueNcrypt provider;
  UniqueNcrypt key;
  NCryptBuffer nameBuffer{static_cast<ULONG>((wcslen(name) + 1) * sizeof(wchar_t)),
                          NCRYPTBUFFER_PKCS_KEY_NAME, const_cast<wchar_t*>(name)};
  NCryptBufferDesc parameters{NCRYPTBUFFER_VERSION, 1, &nameBuffer};
  SECURITY_STATUS status = ::NCryptOpenStorageProvider(reinterpret_cast<NCRYPT_PROV_HANDLE*>(provider.put()),
                                                       MS_KEY_STORAGE_PROVIDER, 0);
  if (status == ERROR_SUCCESS) {
    status = ::NCryptImportKey(provider.get(), 0, BCRYPT_RSAPRIVATE_BLOB, &parameters,
                               reinterpret_cast<NCRYPT_KEY_HANDLE*>(key.put()), blob.data(),
                               static_cast<DWORD>(blob.size()), NCRYPT_OVERWRITE_KEY_FLAG);
    // Wine 8's key storage keeps no named keys: the key is imported for this process alone, and
    // the certificate still names it, so that a lookup reaches the key storage branch.
    if (status == NTE_NOT_SUPPORTED) {
      fwprintf(stderr, L"note: the key storage provider keeps no named keys\n");
      status = ::NCryptImportKey(provider.get(), 0, BCRYPT_RSAPRIVATE_BLOB, nullptr,
                                 reinterpret_cast<NCRYPT_KEY_HANDLE*>(key.put()), blob.data(),
                                 static_cast<DWORD>(blob.size()), 0);
    }
  }
  if (status != ERROR_SUCCESS) {
    fwprintf(stderr, L"NCryptImportKey failed (%#lx)\n", static_cast<unsigned long>(status));
    return false;
  }
  return true;
}

int Add(const wchar_t* certPath, const wchar_t* keyPath, const wchar_t* name, bool cng) {
  const std::vector<BYTE> certificate = ReadAll(certPath);
  fw::UniqueCertContext cert(::CertCreateCertificateContext(X509_ASN_ENCODING, certificate.data(),
                                                            static_cast<DWORD>(certificate.size())));
  fw::UniqueCertStore store = OpenUserStore(L"My");
  if (!cert || !store) {
    fwprintf(stderr, L"the certificate cannot be read or the store opened (Err -> %#lx)\n", ::GetLastError());
    return 1;
  }
  if (std::wcscmp(keyPath, L"-") != 0) {
    if (!ImportKey(ReadAll(keyPath), name, cng)) {
      return 1;
    }
    CRYPT_KEY_PROV_INFO info{};
    info.pwszContainerName = const_cast<wchar_t*>(name);
    info.pwszProvName = const_cast<wchar_t*>(cng ? MS_KEY_STORAGE_PROVIDER : MS_ENH_RSA_AES_PROV_W);
    info.dwProvType = cng ? 0 : PROV_RSA_AES;
    info.dwKeySpec = cng ? 0 : AT_KEYEXCHANGE;
    if (!::CertSetCertificateContextProperty(cert.get(), CERT_KEY_PROV_INFO_PROP_ID, 0, &info)) {
      fwprintf(stderr, L"the key property cannot be set (Err -> %#lx)\n", ::GetLastError());
      return 1;
    }
  }
  if (!::CertAddCertificateContextToStore(store.get(), cert.get(), CERT_STORE_ADD_REPLACE_EXISTING,
                                          nullptr)) {
    fwprintf(stderr, L"the certificate cannot be added (Err -> %#lx)\n", ::GetLastError());
    return 1;
  }
  return 0;
}

int AddCa(const wchar_t* certPath) {
  const std::vector<BYTE> certificate = ReadAll(certPath);
  fw::UniqueCertStore store = OpenUserStore(L"CA");
  if (!store || !::CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING, certificate.data(),
                                                    static_cast<DWORD>(certificate.size()),
                                                    CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    fwprintf(stderr, L"the CA certificate cannot be added (Err -> %#lx)\n", ::GetLastError());
    return 1;
  }
  return 0;
}

int Remove(const wchar_t* thumbprintText, const wchar_t* name, bool cng) {
  std::vector<uint8_t> thumbprint;
  if (!signing::ParseThumbprint(thumbprintText, thumbprint)) {
    return 2;
  }
  CRYPT_HASH_BLOB wanted{static_cast<DWORD>(thumbprint.size()), thumbprint.data()};
  // Wine 8 reports the deletion of a certificate from a system store as done but keeps the
  // certificate in the registry key that holds the store: that key goes as well.
  std::wstring hex;
  for (uint8_t byte : thumbprint) {
    wchar_t digits[3];
    swprintf(digits, 3, L"%02X", byte);
    hex += digits;
  }
  for (const wchar_t* storeName : {L"My", L"CA"}) {
    fw::UniqueCertStore store = OpenUserStore(storeName);
    PCCERT_CONTEXT found = store ? ::CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                                CERT_FIND_SHA1_HASH, &wanted, nullptr)
                                 : nullptr;
    if (found != nullptr) {
      ::CertDeleteCertificateFromStore(found);  // frees the context as well
    }
    store.reset();
    const std::wstring key =
        std::wstring(L"Software\\Microsoft\\SystemCertificates\\") + storeName + L"\\Certificates\\" + hex;
    ::RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
  }
  if (cng) {
    UniqueNcrypt provider;
    NCRYPT_KEY_HANDLE key = 0;
    if (::NCryptOpenStorageProvider(reinterpret_cast<NCRYPT_PROV_HANDLE*>(provider.put()),
                                    MS_KEY_STORAGE_PROVIDER, 0) == ERROR_SUCCESS &&
        ::NCryptOpenKey(provider.get(), &key, name, 0, 0) == ERROR_SUCCESS) {
      ::NCryptDeleteKey(key, 0);
    }
  } else if (std::wcscmp(name, L"-") != 0) {
    HCRYPTPROV ignored = 0;  // deleting a key set returns no handle
    ::CryptAcquireContextW(&ignored, name, nullptr, PROV_RSA_AES, CRYPT_DELETEKEYSET);
  }
  return 0;
}

int Containers() {
  fw::UniqueCryptProvider provider;
  if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return 1;
  }
  char name[1024];
  for (DWORD flags = CRYPT_FIRST;; flags = CRYPT_NEXT) {
    DWORD length = sizeof name;
    if (!::CryptGetProvParam(provider.get(), PP_ENUMCONTAINERS, reinterpret_cast<BYTE*>(name), &length,
                             flags)) {
      break;
    }
    printf("%s\n", name);
  }
  return 0;
}

int OldSignature(const wchar_t* path) {
  fw::UniqueCom<IStorage> root;
  fw::UniqueCom<IStorage> child;
  fw::UniqueCom<IStream> stream;
  ULONG written = 0;
  static constexpr char kBytes[] = "not a signature";
  // A class ID whose bytes are not symmetric, so that a digest taking them in another order fails.
  static constexpr CLSID kClass = {
      0x01234567, 0x89AB, 0xCDEF, {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
  const bool ok =
      SUCCEEDED(::StgOpenStorageEx(path, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, STGFMT_STORAGE, 0, nullptr,
                                   nullptr, IID_IStorage, reinterpret_cast<void**>(root.put()))) &&
      SUCCEEDED(root.get()->CreateStream(L"\x0005MsiDigitalSignatureEx",
                                         STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                         stream.put())) &&
      SUCCEEDED(stream.get()->Write(kBytes, sizeof kBytes, &written)) &&
      SUCCEEDED(root.get()->CreateStorage(L"Nested", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                          child.put())) &&
      SUCCEEDED(child.get()->SetClass(kClass)) &&
      SUCCEEDED(child.get()->CreateStream(L"b", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                          stream.put())) &&
      SUCCEEDED(stream.get()->Write("second", 6, &written)) &&
      SUCCEEDED(child.get()->CreateStream(L"a", STGM_CREATE | STGM_WRITE | STGM_SHARE_EXCLUSIVE, 0, 0,
                                          stream.put())) &&
      SUCCEEDED(stream.get()->Write("first", 5, &written));
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  wchar_t logPath[MAX_PATH];
  const DWORD logLength = ::GetEnvironmentVariableW(L"SIGNING_TOOL_LOG", logPath, MAX_PATH);
  if (logLength > 0 && logLength < MAX_PATH) {
    tracelog::GetSettings().filePath = logPath;
  }
  const std::wstring command = argc > 1 ? argv[1] : L"";
  std::unique_ptr<signing::SigningCertificate> signer;
  if (command == L"pfx" && argc >= 4) {
    wchar_t password[256] = L"";
    const DWORD length = ::GetEnvironmentVariableW(argv[3], password, 256);
    if (length >= 256) {
      return 2;
    }
    ::SetEnvironmentVariableW(argv[3], nullptr);
    const signing::CertificateCheck check = signing::SelectFromPfx(argv[2], password, signer);
    SecureZeroMemory(password, sizeof password);
    return SignAll(check, signer, argc, argv, 4);
  }
  if (command == L"thumbprint" && argc >= 3) {
    return SignAll(signing::SelectByThumbprint(argv[2], signer), signer, argc, argv, 3);
  }
  if (command == L"inspect" && argc == 3) {
    return Inspect(argv[2]);
  }
  if (command == L"add" && argc == 6) {
    return Add(argv[2], argv[3], argv[4], std::wcscmp(argv[5], L"cng") == 0);
  }
  if (command == L"add-ca" && argc == 3) {
    return AddCa(argv[2]);
  }
  if (command == L"remove" && argc == 5) {
    return Remove(argv[2], argv[3], std::wcscmp(argv[4], L"cng") == 0);
  }
  if (command == L"old-signature" && argc == 3) {
    return OldSignature(argv[2]);
  }
  if (command == L"containers" && argc == 2) {
    return Containers();
  }
  fwprintf(stderr, L"usage: see the head of signing_tool.cpp\n");
  return 2;
}
