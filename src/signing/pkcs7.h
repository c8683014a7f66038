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
  // Given the signature value once made, the unsigned attributes to add (a timestamp token);
  // false fails the signature. Null: none.
  std::function<bool(std::span<const uint8_t>, std::vector<der::Bytes>&)> countersign;
};

// The DER ContentInfo, or false when `sign` failed.
bool EncodeSignature(const SignatureInput& input, der::Bytes& encoded);

// One unsigned attribute of a signer: its type and its values, DER as stored.
struct UnsignedAttribute {
  std::string type;  // dotted object identifier
  std::span<const uint8_t> whole;
  std::vector<std::span<const uint8_t>> values;
};

// The parts of a PKCS#7 SignedData with one signer. The spans point into the encoded signature.
struct SignedDataParts {
  std::string contentType;                             // dotted object identifier
  std::span<const uint8_t> content;                    // the [0] content's value
  std::vector<std::span<const uint8_t>> certificates;  // DER, as stored
  std::span<const uint8_t> signerInfo;                 // the whole SignerInfo
  std::span<const uint8_t> signerIssuer;               // Name, DER
  std::span<const uint8_t> signerSerial;               // INTEGER content, big-endian
  std::span<const uint8_t> signatureValue;             // the signer's encrypted digest
  // The SignerInfo's fields from its version to its signature value, whole.
  std::span<const uint8_t> signedPart;
  std::vector<UnsignedAttribute> unsignedAttributes;
};

// Reads a ContentInfo holding a SignedData with one signer; false for anything else, and for
// elements that run past the buffer.
bool ParseSignedData(std::span<const uint8_t> encoded, SignedDataParts& parts);

struct ParsedSignature {
  std::string digestAlgorithm;  // dotted object identifier of the file digest
  std::span<const uint8_t> digest;
  SignedDataParts signedData;
};

// Reads what a verifier of the file's digest needs from a signature. The spans point into
// `encoded`. False for anything that is not an Authenticode SignedData with one signer.
bool ParseSignature(std::span<const uint8_t> encoded, ParsedSignature& parsed);

// `outer` with `nested` (a whole signature) added to its signer's nested signatures, after any
// it has; the outer signature itself is kept byte for byte up to its unsigned attributes.
bool NestSignature(std::span<const uint8_t> outer, std::span<const uint8_t> nested, der::Bytes& combined);

// Dotted form of an OBJECT IDENTIFIER's content.
std::string OidText(std::span<const uint8_t> content);

inline constexpr char kSha256Oid[] = "2.16.840.1.101.3.4.2.1";
inline constexpr char kSha1Oid[] = "1.3.14.3.2.26";
// Unsigned attributes of an Authenticode signer: an RFC 3161 timestamp token, and a nested
// signature over the same file.
inline constexpr char kTimestampTokenOid[] = "1.3.6.1.4.1.311.3.3.1";
inline constexpr char kNestedSignatureOid[] = "1.3.6.1.4.1.311.2.4.1";

}  // namespace signing
