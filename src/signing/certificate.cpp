#include "signing/certificate.h"

#include "signing/pkcs7.h"

// After windows.h (through certificate.h): ncrypt.h relies on its types. Only its types and
// constants are used; the functions are loaded at run time (see Ncrypt).
#include <ncrypt.h>

#include <algorithm>
#include <cstring>
#include <cwctype>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "signing/hasher.h"

namespace signing {

namespace {

constexpr wchar_t kTag[] = L"Signing";
constexpr char kCodeSigningOid[] = "1.3.6.1.5.5.7.3.3";
constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// The key storage functions, from the system folder's ncrypt.dll: loaded only for a key kept
// there, so that the program starts where the library is missing.
struct Ncrypt {
  fw::UniqueModule module;
  decltype(&::NCryptOpenStorageProvider) openProvider = nullptr;
  decltype(&::NCryptOpenKey) openKey = nullptr;
  decltype(&::NCryptSignHash) signHash = nullptr;
  decltype(&::NCryptDeleteKey) deleteKey = nullptr;
  decltype(&::NCryptFreeObject) freeObject = nullptr;

  bool Load() {
    if (module) {
      return true;
    }
    wchar_t path[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(path, MAX_PATH);
    if (length == 0 || length + 12 >= MAX_PATH) {
      return false;
    }
    wcscpy_s(path + length, MAX_PATH - length, L"\\ncrypt.dll");
    fw::UniqueModule loaded(::LoadLibraryW(path));
    if (!loaded) {
      return false;
    }
    openProvider = fw::GetExport<decltype(openProvider)>(loaded.get(), "NCryptOpenStorageProvider");
    openKey = fw::GetExport<decltype(openKey)>(loaded.get(), "NCryptOpenKey");
    signHash = fw::GetExport<decltype(signHash)>(loaded.get(), "NCryptSignHash");
    deleteKey = fw::GetExport<decltype(deleteKey)>(loaded.get(), "NCryptDeleteKey");
    freeObject = fw::GetExport<decltype(freeObject)>(loaded.get(), "NCryptFreeObject");
    if (!openProvider || !openKey || !signHash || !deleteKey || !freeObject) {
      return false;
    }
    module = std::move(loaded);
    return true;
  }
};

// A key storage handle; freed through the library that is loaded while any handle lives.
struct NcryptTraits {
  using Type = NCRYPT_HANDLE;
  static Type Invalid() noexcept { return 0; }
  static bool IsValid(Type h) noexcept { return h != 0; }
  static bool Close(Type h) noexcept {
    const auto freeObject =
        fw::GetExport<decltype(&::NCryptFreeObject)>(::GetModuleHandleW(L"ncrypt.dll"), "NCryptFreeObject");
    return freeObject != nullptr && freeObject(h) == ERROR_SUCCESS;
  }
};
using UniqueNcrypt = fw::UniqueHandle<NcryptTraits>;

// Where a certificate's private key is kept, from its key provider property.
struct KeyLocation {
  std::wstring provider;
  std::wstring container;
  DWORD providerType = 0;  // 0: a key storage (CNG) provider
  DWORD flags = 0;         // CRYPT_MACHINE_KEYSET for a machine key
  DWORD keySpec = 0;
};

bool ReadKeyLocation(PCCERT_CONTEXT cert, KeyLocation& location) {
  DWORD size = 0;
  if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) || size == 0) {
    return false;
  }
  std::vector<uint8_t> buffer(size);
  if (!::CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, buffer.data(), &size)) {
    return false;
  }
  const auto* info = reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(buffer.data());
  location.provider = info->pwszProvName != nullptr ? info->pwszProvName : L"";
  location.container = info->pwszContainerName != nullptr ? info->pwszContainerName : L"";
  location.providerType = info->dwProvType;
  location.flags = info->dwFlags & CRYPT_MACHINE_KEYSET;
  location.keySpec = info->dwKeySpec;
  return !location.container.empty();
}

bool SelfIssued(PCCERT_CONTEXT cert) {
  return ::CertCompareCertificateName(kEncoding, &cert->pCertInfo->Subject, &cert->pCertInfo->Issuer) !=
         FALSE;
}

// The CA that issued `cert`, from the stores given: one with the issuer's name whose key verifies
// the certificate's signature.
fw::UniqueCertContext FindIssuer(PCCERT_CONTEXT cert, const std::vector<HCERTSTORE>& stores) {
  for (HCERTSTORE store : stores) {
    PCCERT_CONTEXT candidate = nullptr;
    while ((candidate = ::CertFindCertificateInStore(store, kEncoding, 0, CERT_FIND_SUBJECT_NAME,
                                                     &cert->pCertInfo->Issuer, candidate)) != nullptr) {
      if (::CryptVerifyCertificateSignatureEx(
              0, kEncoding, CRYPT_VERIFY_CERT_SIGN_SUBJECT_CERT, const_cast<PCERT_CONTEXT>(cert),
              CRYPT_VERIFY_CERT_SIGN_ISSUER_CERT, const_cast<PCERT_CONTEXT>(candidate), 0, nullptr)) {
        return fw::UniqueCertContext(candidate);
      }
    }
  }
  return {};
}

std::vector<der::Bytes> BuildChain(PCCERT_CONTEXT signer, const std::vector<HCERTSTORE>& stores) {
  std::vector<der::Bytes> chain;
  chain.emplace_back(signer->pbCertEncoded, signer->pbCertEncoded + signer->cbCertEncoded);
  fw::UniqueCertContext current(::CertDuplicateCertificateContext(signer));
  constexpr int kMaxDepth = 8;
  for (int depth = 0; depth < kMaxDepth && !SelfIssued(current.get()); ++depth) {
    fw::UniqueCertContext issuer = FindIssuer(current.get(), stores);
    if (!issuer || SelfIssued(issuer.get())) {
      break;
    }
    chain.emplace_back(issuer.get()->pbCertEncoded,
                       issuer.get()->pbCertEncoded + issuer.get()->cbCertEncoded);
    current = std::move(issuer);
  }
  return chain;
}

// Whether another certificate in `store` names `cert`'s subject as its issuer.
bool IssuesAnother(PCCERT_CONTEXT cert, HCERTSTORE store) {
  PCCERT_CONTEXT other = nullptr;
  while ((other = ::CertEnumCertificatesInStore(store, other)) != nullptr) {
    if (!SelfIssued(other) &&
        ::CertCompareCertificateName(kEncoding, &cert->pCertInfo->Subject, &other->pCertInfo->Issuer)) {
      ::CertFreeCertificateContext(other);
      return true;
    }
  }
  return false;
}

bool HasCodeSigningUsage(PCCERT_CONTEXT cert) {
  DWORD size = 0;
  if (!::CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, nullptr, &size) || size == 0) {
    return false;
  }
  std::vector<uint8_t> buffer(size);
  auto* usage = reinterpret_cast<PCERT_ENHKEY_USAGE>(buffer.data());
  if (!::CertGetEnhancedKeyUsage(cert, CERT_FIND_EXT_ONLY_ENHKEY_USAGE_FLAG, usage, &size)) {
    return false;
  }
  return std::any_of(usage->rgpszUsageIdentifier, usage->rgpszUsageIdentifier + usage->cUsageIdentifier,
                     [](LPSTR oid) { return std::strcmp(oid, kCodeSigningOid) == 0; });
}

}  // namespace

struct SigningCertificate::State {
  // Declared first, so freed last: the key storage handles below are freed through it.
  Ncrypt ncrypt;
  fw::UniqueCertStore pfxStore;
  // The key containers a PFX import made; deleted in the destructor, after every handle to them
  // (Wine writes a key set back to its container when its handle is released).
  std::vector<KeyLocation> imported;
  fw::UniqueCertContext cert;
  std::vector<der::Bytes> chain;
  fw::UniqueCryptProvider capi;
  DWORD capiKeySpec = 0;
  UniqueNcrypt cngProvider;
  UniqueNcrypt cngKey;

  State() = default;
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    cngKey.reset();
    cngProvider.reset();
    capi.reset();
    cert.reset();
    for (const KeyLocation& key : imported) {
      DeleteContainer(key);
    }
  }

  void DeleteContainer(const KeyLocation& key) {
    if (key.providerType != 0) {
      HCRYPTPROV ignored = 0;  // not a handle: deleting a key set returns none
      if (!::CryptAcquireContextW(&ignored, key.container.c_str(), key.provider.c_str(), key.providerType,
                                  CRYPT_DELETEKEYSET | CRYPT_SILENT | key.flags)) {
        TraceLog(1, kTag, L"Deleting key container failed (Err -> %u)", ::GetLastError());
      }
      return;
    }
    UniqueNcrypt provider;
    UniqueNcrypt handle;
    NCRYPT_KEY_HANDLE opened = 0;
    if (!ncrypt.Load() ||
        ncrypt.openProvider(reinterpret_cast<NCRYPT_PROV_HANDLE*>(provider.put()), key.provider.c_str(), 0) !=
            ERROR_SUCCESS ||
        ncrypt.openKey(provider.get(), &opened, key.container.c_str(), 0,
                       NCRYPT_SILENT_FLAG | (key.flags ? NCRYPT_MACHINE_KEY_FLAG : 0)) != ERROR_SUCCESS) {
      TraceLog(1, kTag, L"Opening imported key storage key failed");
      return;
    }
    // NCryptDeleteKey frees the handle whether or not it deletes the key.
    if (ncrypt.deleteKey(opened, 0) != ERROR_SUCCESS) {
      TraceLog(1, kTag, L"Deleting imported key storage key failed");
    }
  }

  // Opens the certificate's private key without any prompt, for Sign.
  bool AcquireKey() {
    KeyLocation location;
    if (!ReadKeyLocation(cert.get(), location)) {
      return false;
    }
    if (location.providerType == 0) {
      NCRYPT_KEY_HANDLE key = 0;
      if (!ncrypt.Load() || ncrypt.openProvider(reinterpret_cast<NCRYPT_PROV_HANDLE*>(cngProvider.put()),
                                                location.provider.c_str(), 0) != ERROR_SUCCESS) {
        return false;
      }
      const SECURITY_STATUS status =
          ncrypt.openKey(cngProvider.get(), &key, location.container.c_str(), 0,
                         NCRYPT_SILENT_FLAG | (location.flags ? NCRYPT_MACHINE_KEY_FLAG : 0));
      cngKey.reset(key);
      if (status != ERROR_SUCCESS) {
        TraceLog(1, kTag, L"NCryptOpenKey failed (Err -> %#x)", static_cast<unsigned>(status));
      }
      return status == ERROR_SUCCESS;
    }
    // The platform's own silent check first; then the key set again through the provider type
    // that has SHA-256, which the one a PFX import names may lack.
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD acquiredKeyKind = 0;
    BOOL mustFree = FALSE;
    if (!::CryptAcquireCertificatePrivateKey(cert.get(), CRYPT_ACQUIRE_SILENT_FLAG, nullptr, &handle,
                                             &acquiredKeyKind, &mustFree)) {
      return false;
    }
    // Only the check's handle: signing needs the provider type with SHA-256 below.
    const fw::UniqueCryptProvider checked(mustFree ? handle : 0);
    if (!::CryptAcquireContextW(capi.put(), location.container.c_str(), nullptr, PROV_RSA_AES,
                                CRYPT_SILENT | location.flags)) {
      return false;
    }
    // The key can sit under another key kind than the property says: take the one that is there.
    const DWORD keyKinds[] = {location.keySpec == AT_SIGNATURE ? DWORD{AT_SIGNATURE} : DWORD{AT_KEYEXCHANGE},
                              location.keySpec == AT_SIGNATURE ? DWORD{AT_KEYEXCHANGE} : DWORD{AT_SIGNATURE}};
    for (DWORD candidate : keyKinds) {
      HCRYPTKEY key = 0;
      if (::CryptGetUserKey(capi.get(), candidate, &key)) {
        ::CryptDestroyKey(key);
        capiKeySpec = candidate;
        return HoldsCertificateKey();
      }
    }
    return false;
  }

  // Whether the key set acquired holds the certificate's own key. Under Wine every PFX import
  // lands in one container named after the user, so another program's import at the same time
  // can leave another key there: a signature with it would verify nowhere.
  bool HoldsCertificateKey() const {
    DWORD size = 0;
    if (!::CryptExportPublicKeyInfo(capi.get(), capiKeySpec, X509_ASN_ENCODING, nullptr, &size) ||
        size == 0) {
      return false;
    }
    std::vector<uint8_t> buffer(size);
    auto* info = reinterpret_cast<PCERT_PUBLIC_KEY_INFO>(buffer.data());
    if (!::CryptExportPublicKeyInfo(capi.get(), capiKeySpec, X509_ASN_ENCODING, info, &size)) {
      return false;
    }
    if (!::CertComparePublicKeyInfo(X509_ASN_ENCODING, info, &cert.get()->pCertInfo->SubjectPublicKeyInfo)) {
      TraceLog(1, kTag, L"The key set holds another key than the certificate's");
      return false;
    }
    return true;
  }
};

// Whether `signature` (RSA PKCS#1 v1.5 over the SHA-256 of `data`, big-endian) verifies with the
// public key of `cert`.
bool VerifiesWithCertificate(PCCERT_CONTEXT cert, std::span<const uint8_t> data,
                             std::vector<uint8_t> signature) {
  fw::UniqueCryptProvider provider;
  fw::UniqueCryptKey key;
  fw::UniqueCryptHash hash;
  if (!::CryptAcquireContextW(provider.put(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
      !::CryptImportPublicKeyInfo(provider.get(), X509_ASN_ENCODING, &cert->pCertInfo->SubjectPublicKeyInfo,
                                  key.put()) ||
      !::CryptCreateHash(provider.get(), CALG_SHA_256, 0, 0, hash.put()) ||
      !::CryptHashData(hash.get(), data.data(), static_cast<DWORD>(data.size()), 0)) {
    return false;
  }
  // CryptoAPI takes the signature little-endian.
  std::reverse(signature.begin(), signature.end());
  return ::CryptVerifySignatureW(hash.get(), signature.data(), static_cast<DWORD>(signature.size()),
                                 key.get(), nullptr, 0) != FALSE;
}

// Runs the checks on the certificate in `state` and hands it out when all pass.
CertificateCheck Finish(std::unique_ptr<SigningCertificate::State> state,
                        std::unique_ptr<SigningCertificate>& selected) {
  const PCCERT_CONTEXT cert = state->cert.get();
  if (!HasCodeSigningUsage(cert)) {
    return CertificateCheck::kNoCodeSigning;
  }
  if (::CertVerifyTimeValidity(nullptr, cert->pCertInfo) != 0) {
    return CertificateCheck::kOutsideValidity;
  }
  if (std::strcmp(cert->pCertInfo->SubjectPublicKeyInfo.Algorithm.pszObjId, szOID_RSA_RSA) != 0) {
    return CertificateCheck::kNotRsa;
  }
  if (!state->AcquireKey()) {
    TraceLog(1, kTag, L"No private key usable without a prompt (Err -> %u)", ::GetLastError());
    return CertificateCheck::kNoPrivateKey;
  }
  auto candidate = std::unique_ptr<SigningCertificate>(new SigningCertificate(std::move(state)));
  // A probe signature, checked with the certificate's public key. A key set can hold the
  // certificate's public half with a private half that does not belong to it (a damaged import,
  // a key set changed behind the certificate's back), which the comparison of public keys above
  // cannot see: installers signed with it would verify nowhere.
  static constexpr uint8_t kProbe[] = {'p', 'r', 'o', 'b', 'e'};
  std::vector<uint8_t> signature;
  DWORD error = 0;
  if (!candidate->Sign(kProbe, signature, error) ||
      !VerifiesWithCertificate(candidate->certificate(), kProbe, signature)) {
    TraceLog(1, kTag, L"The private key's probe signature does not verify (Err -> %u)", error);
    return CertificateCheck::kKeyMismatch;
  }
  selected = std::move(candidate);
  return CertificateCheck::kOk;
}

const wchar_t* CertificateCheckName(CertificateCheck check) {
  switch (check) {
    case CertificateCheck::kOk:
      return L"ok";
    case CertificateCheck::kBadThumbprint:
      return L"bad thumbprint";
    case CertificateCheck::kNotFound:
      return L"not found";
    case CertificateCheck::kPfxUnreadable:
      return L"PFX unreadable";
    case CertificateCheck::kWrongPassword:
      return L"wrong PFX password";
    case CertificateCheck::kNoCodeSigning:
      return L"no code-signing usage";
    case CertificateCheck::kOutsideValidity:
      return L"outside validity";
    case CertificateCheck::kNotRsa:
      return L"not RSA";
    case CertificateCheck::kNoPrivateKey:
      return L"no private key";
    case CertificateCheck::kKeyMismatch:
      return L"key mismatch";
  }
  return L"?";
}

bool ParseThumbprint(std::wstring_view text, std::vector<uint8_t>& thumbprint) {
  thumbprint.clear();
  if (!text.empty() && text.front() == L'\x200E') {
    text.remove_prefix(1);
  }
  std::wstring digits;
  for (wchar_t c : text) {
    if (c == L' ' || c == L':') {
      continue;
    }
    if (!std::iswxdigit(c) || c > 0x7F) {
      return false;
    }
    digits += c;
  }
  if (digits.size() != 40) {
    return false;
  }
  for (size_t i = 0; i < digits.size(); i += 2) {
    thumbprint.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
  }
  return true;
}

CertificateCheck SelectByThumbprint(std::wstring_view text, std::unique_ptr<SigningCertificate>& selected) {
  selected.reset();
  std::vector<uint8_t> thumbprint;
  if (!ParseThumbprint(text, thumbprint)) {
    return CertificateCheck::kBadThumbprint;
  }
  CRYPT_HASH_BLOB wanted{static_cast<DWORD>(thumbprint.size()), thumbprint.data()};
  const DWORD locations[] = {CERT_SYSTEM_STORE_CURRENT_USER, CERT_SYSTEM_STORE_LOCAL_MACHINE};
  // Every store the chain's CAs may sit in, kept open while the chain is built.
  std::vector<fw::UniqueCertStore> stores;
  auto state = std::make_unique<SigningCertificate::State>();
  for (DWORD location : locations) {
    for (const wchar_t* name : {L"My", L"CA"}) {
      fw::UniqueCertStore store(
          ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                          location | CERT_STORE_OPEN_EXISTING_FLAG | CERT_STORE_READONLY_FLAG, name));
      if (!store) {
        continue;
      }
      if (!state->cert && std::wcscmp(name, L"My") == 0) {
        state->cert.reset(
            ::CertFindCertificateInStore(store.get(), kEncoding, 0, CERT_FIND_SHA1_HASH, &wanted, nullptr));
      }
      stores.push_back(std::move(store));
    }
  }
  if (!state->cert) {
    return CertificateCheck::kNotFound;
  }
  std::vector<HCERTSTORE> search;
  for (const auto& store : stores) {
    search.push_back(store.get());
  }
  state->chain = BuildChain(state->cert.get(), search);
  return Finish(std::move(state), selected);
}

CertificateCheck SelectFromPfx(const std::wstring& path, const wchar_t* password,
                               std::unique_ptr<SigningCertificate>& selected) {
  selected.reset();
  std::vector<uint8_t> bytes;
  {
    fw::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    constexpr LONGLONG kMaxPfx = 1 << 20;
    if (!file || !::GetFileSizeEx(file.get(), &size) || size.QuadPart > kMaxPfx) {
      return CertificateCheck::kPfxUnreadable;
    }
    bytes.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0;
    if (!::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) ||
        got != bytes.size()) {
      return CertificateCheck::kPfxUnreadable;
    }
  }
  CRYPT_DATA_BLOB blob{static_cast<DWORD>(bytes.size()), bytes.data()};
  auto state = std::make_unique<SigningCertificate::State>();
  // The key goes into a container of its own, which State deletes on every path. Under Wine a
  // wrong password returns null with the last error 0: null is the refusal, whatever the code.
  state->pfxStore.reset(::PFXImportCertStore(&blob, password, 0));
  if (!state->pfxStore) {
    TraceLog(1, kTag, L"PFXImportCertStore failed (Err -> %u)", ::GetLastError());
    return CertificateCheck::kWrongPassword;
  }
  // The signer is the end certificate: the one no other certificate of the file names as its
  // issuer. Which certificates carry the key property differs (Wine gives it to a CA as well).
  PCCERT_CONTEXT cert = nullptr;
  while ((cert = ::CertEnumCertificatesInStore(state->pfxStore.get(), cert)) != nullptr) {
    KeyLocation location;
    if (ReadKeyLocation(cert, location) &&
        std::none_of(state->imported.begin(), state->imported.end(), [&](const KeyLocation& key) {
          return key.container == location.container && key.provider == location.provider;
        })) {
      state->imported.push_back(location);
    }
    if (!state->cert && !IssuesAnother(cert, state->pfxStore.get())) {
      state->cert.reset(::CertDuplicateCertificateContext(cert));
    }
  }
  if (!state->cert) {
    return CertificateCheck::kNotFound;
  }
  state->chain = BuildChain(state->cert.get(), {state->pfxStore.get()});
  return Finish(std::move(state), selected);
}

SigningCertificate::SigningCertificate(std::unique_ptr<State> state) : state_(std::move(state)) {}
SigningCertificate::~SigningCertificate() = default;

PCCERT_CONTEXT SigningCertificate::certificate() const { return state_->cert.get(); }
const std::vector<der::Bytes>& SigningCertificate::chain() const { return state_->chain; }

bool SigningCertificate::Sign(std::span<const uint8_t> data, std::vector<uint8_t>& signature,
                              DWORD& error) const {
  signature.clear();
  error = 0;
  if (state_->cngKey) {
    std::vector<uint8_t> digest = Sha256(data);
    if (digest.empty()) {
      error = ERROR_INVALID_DATA;
      return false;
    }
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    DWORD length = 0;
    SECURITY_STATUS status =
        state_->ncrypt.signHash(state_->cngKey.get(), &padding, digest.data(),
                                static_cast<DWORD>(digest.size()), nullptr, 0, &length, BCRYPT_PAD_PKCS1);
    if (status == ERROR_SUCCESS) {
      signature.resize(length);
      status = state_->ncrypt.signHash(state_->cngKey.get(), &padding, digest.data(),
                                       static_cast<DWORD>(digest.size()), signature.data(), length, &length,
                                       BCRYPT_PAD_PKCS1);
      signature.resize(length);
    }
    error = static_cast<DWORD>(status);
    return status == ERROR_SUCCESS;
  }
  fw::UniqueCryptHash hash;
  DWORD length = 0;
  if (!::CryptCreateHash(state_->capi.get(), CALG_SHA_256, 0, 0, hash.put()) ||
      !::CryptHashData(hash.get(), data.data(), static_cast<DWORD>(data.size()), 0) ||
      !::CryptSignHashW(hash.get(), state_->capiKeySpec, nullptr, 0, nullptr, &length)) {
    error = ::GetLastError();
    return false;
  }
  signature.resize(length);
  if (!::CryptSignHashW(hash.get(), state_->capiKeySpec, nullptr, 0, signature.data(), &length)) {
    error = ::GetLastError();
    signature.clear();
    return false;
  }
  // CryptoAPI gives the signature little-endian.
  signature.resize(length);
  std::reverse(signature.begin(), signature.end());
  return true;
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

fw::UniqueCertContext FindSignerCertificate(const SignedDataParts& parts) {
  constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
  for (std::span<const uint8_t> der : parts.certificates) {
    fw::UniqueCertContext cert(
        ::CertCreateCertificateContext(kEncoding, der.data(), static_cast<DWORD>(der.size())));
    if (!cert) {
      continue;
    }
    const CERT_INFO* info = cert.get()->pCertInfo;
    // The certificate context keeps the serial number little-endian.
    const std::vector<uint8_t> serial(
        std::make_reverse_iterator(info->SerialNumber.pbData + info->SerialNumber.cbData),
        std::make_reverse_iterator(info->SerialNumber.pbData));
    if (std::equal(parts.signerIssuer.begin(), parts.signerIssuer.end(), info->Issuer.pbData,
                   info->Issuer.pbData + info->Issuer.cbData) &&
        std::equal(parts.signerSerial.begin(), parts.signerSerial.end(), serial.begin(), serial.end())) {
      return cert;
    }
  }
  return {};
}

}  // namespace signing
