#pragma once
// Signing a finished installer in place, and reading its signature back. A PE setup gets the
// signature appended as its certificate table; an MSI database gets it as its
// \005DigitalSignature stream, replacing any signature the database had.

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "signing/certificate.h"
#include "signing/timestamp.h"

namespace signing {

enum class SignResult {
  kSigned,
  kAlreadySigned,  // a PE whose signature cannot take a nested one: left as it was
  kUnsupported,    // neither a PE image nor an MSI database, or a PE of 4 GiB or more
  kReadFailed,
  kWriteFailed,      // the file may be partly written: the caller discards it
  kSignFailed,       // the key refused to sign
  kTimestampFailed,  // the time-stamp authority gave no good token
};

struct SignOptions {
  std::wstring timestampUrl;  // an RFC 3161 authority; empty: no timestamp
  DWORD timestampTimeoutMs = kTimestampTimeoutMs;
};

// Signs the file at `path` with `signer`, in place: call it on the finished installer at its
// temporary name, before it replaces anything. A PE that carries a signature already keeps it and
// gets this one nested in it. With a timestamp URL the signature is stamped by that authority.
// After kReadFailed, kWriteFailed, kSignFailed or kTimestampFailed the file may be partly changed
// and must be discarded; after kAlreadySigned and kUnsupported it is untouched. `error` gets the
// failing call's code (a Win32 error or an HRESULT), or 0; `problem` what the authority did wrong.
SignResult SignFile(const std::wstring& path, const SigningCertificate& signer, DWORD& error,
                    const SignOptions& options = {}, std::wstring* problem = nullptr);

struct SignatureReport {
  bool present = false;
  std::wstring subject;  // of the signer's certificate, as "CN=..., O=..."
  std::wstring issuer;
  std::wstring thumbprint;       // SHA-1, 40 uppercase hexadecimal digits
  std::wstring digestAlgorithm;  // "SHA-256", "SHA-1", or the object identifier
  // Whether the digest recomputed from the file is the one signed; empty for a digest algorithm
  // this reader does not compute.
  std::optional<bool> digestMatches;
  // The RFC 3161 timestamp's time ("YYYY-MM-DD hh:mm:ss UTC") and the subject of its authority's
  // certificate; empty without one.
  std::wstring timestampTime;
  std::wstring timestampAuthority;
  // Signatures nested in this one, over the same file, in their order.
  std::vector<SignatureReport> nested;
};

// Reads the signature of a PE image or an MSI database. False, with `error` saying why, when the
// file cannot be read or its signature cannot be parsed; an unsigned file is a report with
// `present` false.
bool ReadSignature(const std::wstring& path, SignatureReport& report, std::wstring& error);

}  // namespace signing
