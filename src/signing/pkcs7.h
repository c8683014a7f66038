#pragma once
// The Authenticode signature: a PKCS#7 SignedData over an SpcIndirectDataContent that carries the
// file's digest, written and read back. Written signatures use SHA-256 and RSA and carry no
// signing time, so the same file, certificates and key give the same bytes.

#include <functional>
#include <span>
#include <string>
#include <vector>

#include "signing/der.h"

namespace signing {

enum class SignedFileKind { kPe, kMsi };

struct SignatureInput {
  SignedFileKind kind = SignedFileKind::kPe;
  std::vector<uint8_t> digest;            // the file's SHA-256
  std::vector<der::Bytes> certificates;   // DER, the signer's first
  std::span<const uint8_t> signerIssuer;  // the signer's issuer Name, DER
  std::vector<uint8_t> signerSerial;      // big-endian two's complement, as in the certificate
  // Signs the SHA-256 of the bytes given with RSA PKCS#1 v1.5 (big-endian result).
  std::function<bool(std::span<const uint8_t>, std::vector<uint8_t>&)> sign;
};

// The DER ContentInfo, or false when `sign` failed.
bool EncodeSignature(const SignatureInput& input, der::Bytes& encoded);

struct ParsedSignature {
  std::string digestAlgorithm;  // dotted object identifier of the file digest
  std::span<const uint8_t> digest;
  std::vector<std::span<const uint8_t>> certificates;  // DER, as stored
  std::span<const uint8_t> signerIssuer;               // Name, DER
  std::span<const uint8_t> signerSerial;               // INTEGER content, big-endian
};

// Reads what a verifier of the file's digest needs from a signature. The spans point into
// `encoded`. False for anything that is not an Authenticode SignedData with one signer.
bool ParseSignature(std::span<const uint8_t> encoded, ParsedSignature& parsed);

// Dotted form of an OBJECT IDENTIFIER's content.
std::string OidText(std::span<const uint8_t> content);

inline constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";
inline constexpr char kSha1Oid[] = "1.3.14.3.2.26";

}  // namespace signing
