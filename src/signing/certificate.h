#pragma once
// The code-signing certificate of one signed build: taken from the certificate stores by its
// SHA-1 thumbprint or from a PFX file, checked before anything is built, and its private key
// used to sign. A PFX's key lives only as long as the SigningCertificate: its key container is
// deleted when the object goes, on every path.

#include <windows.h>
// After windows.h: wincrypt.h relies on its types.
#include <wincrypt.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "handles/handles.h"
#include "signing/der.h"

namespace signing {

// The outcome of taking a certificate, one value per check, in the order they are made.
enum class CertificateCheck {
  kOk,
  kBadThumbprint,    // not 40 hexadecimal digits once spaces, colons and a leading U+200E are gone
  kNotFound,         // no such certificate in CurrentUser\My or LocalMachine\My
  kPfxUnreadable,    // the PFX file cannot be read
  kWrongPassword,    // the PFX cannot be opened with the password (or is no PFX)
  kNoCodeSigning,    // its extended key usage lacks code signing
  kOutsideValidity,  // not yet valid or expired
  kNotRsa,           // its key is not RSA
  kNoPrivateKey,     // no private key, or none usable without a prompt
  kKeyMismatch,      // its private key makes signatures its public key does not verify
};

// A short English name of the check, for traces and test output.
const wchar_t* CertificateCheckName(CertificateCheck check);

// The 20 bytes a thumbprint names, from the text an administrator pastes: spaces, colons and a
// leading U+200E are removed, then 40 hexadecimal digits in any case must remain.
bool ParseThumbprint(std::wstring_view text, std::vector<uint8_t>& thumbprint);

class SigningCertificate;
struct SignedDataParts;

// A certificate name as "CN=..., O=...".
std::wstring NameText(const CERT_NAME_BLOB& name);

// The certificate among a signature's own that its signer names; none when it is not there.
fw::UniqueCertContext FindSignerCertificate(const SignedDataParts& parts);

CertificateCheck SelectByThumbprint(std::wstring_view thumbprint,
                                    std::unique_ptr<SigningCertificate>& selected);
// `password` may be empty, never null.
CertificateCheck SelectFromPfx(const std::wstring& path, const wchar_t* password,
                               std::unique_ptr<SigningCertificate>& selected);

class SigningCertificate {
 public:
  SigningCertificate(const SigningCertificate&) = delete;
  SigningCertificate& operator=(const SigningCertificate&) = delete;
  ~SigningCertificate();

  PCCERT_CONTEXT certificate() const;
  // DER of the signer's certificate and of the CAs above it that could be found, the self-signed
  // root left out.
  const std::vector<der::Bytes>& chain() const;
  // RSA PKCS#1 v1.5 over the SHA-256 of `data`, big-endian. False with the failing call's code.
  bool Sign(std::span<const uint8_t> data, std::vector<uint8_t>& signature, DWORD& error) const;

  struct State;

 private:
  explicit SigningCertificate(std::unique_ptr<State> state);
  friend CertificateCheck Finish(std::unique_ptr<State> state, std::unique_ptr<SigningCertificate>& selected);

  std::unique_ptr<State> state_;
};

}  // namespace signing
