#pragma once
// Signing a finished installer in place, and reading its signature back. A PE setup gets the
// signature appended as its certificate table; an MSI database gets it as its
// \005DigitalSignature stream, replacing any signature the database had.

#include <windows.h>

#include <optional>
#include <string>

#include "signing/certificate.h"

namespace signing {

enum class SignResult {
  kSigned,
  kAlreadySigned,  // a PE that already carries a signature: left as it was
  kUnsupported,    // neither a PE image nor an MSI database, or a PE of 4 GiB or more
  kReadFailed,
  kWriteFailed,  // the file may be partly written: the caller discards it
  kSignFailed,   // the key refused to sign
};

// Signs the file at `path` with `signer`, in place: call it on the finished installer at its
// temporary name, before it replaces anything. After kReadFailed, kWriteFailed or kSignFailed the
// file may be partly changed and must be discarded; after kAlreadySigned and kUnsupported it is
// untouched. `error` gets the failing call's code (a Win32 error or an HRESULT), or 0.
SignResult SignFile(const std::wstring& path, const SigningCertificate& signer, DWORD& error);

struct SignatureReport {
  bool present = false;
  std::wstring subject;  // of the signer's certificate, as "CN=..., O=..."
  std::wstring issuer;
  std::wstring thumbprint;       // SHA-1, 40 uppercase hexadecimal digits
  std::wstring digestAlgorithm;  // "SHA-256", "SHA-1", or the object identifier
  // Whether the digest recomputed from the file is the one signed; empty for a digest algorithm
  // this reader does not compute.
  std::optional<bool> digestMatches;
};

// Reads the signature of a PE image or an MSI database. False, with `error` saying why, when the
// file cannot be read or its signature cannot be parsed; an unsigned file is a report with
// `present` false.
bool ReadSignature(const std::wstring& path, SignatureReport& report, std::wstring& error);

}  // namespace signing
