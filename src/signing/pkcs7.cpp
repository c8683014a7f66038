#include "signing/pkcs7.h"

#include "signing/hasher.h"

namespace signing {

namespace {

constexpr char kSignedDataOid[] = "1.2.840.113549.1.7.2";
constexpr char kIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";
constexpr char kPeImageDataOid[] = "1.3.6.1.4.1.311.2.1.15";
constexpr char kSipInfoOid[] = "1.3.6.1.4.1.311.2.1.30";
constexpr char kContentTypeOid[] = "1.2.840.113549.1.9.3";
constexpr char kMessageDigestOid[] = "1.2.840.113549.1.9.4";
constexpr char kOpusInfoOid[] = "1.3.6.1.4.1.311.2.1.12";
constexpr char kStatementTypeOid[] = "1.3.6.1.4.1.311.2.1.11";
constexpr char kIndividualCodeSigningOid[] = "1.3.6.1.4.1.311.2.1.21";
constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";

// What the digest is of: a PE image, with the file link that signers have written since the
// field lost its use, or an MSI database, named by the class ID of its subject interface.
der::Bytes SubjectData(SignedFileKind kind) {
  if (kind == SignedFileKind::kPe) {
    static constexpr char16_t kObsolete[] = u"<<<Obsolete>>>";
    der::Bytes bmp;
    for (char16_t c : std::u16string_view(kObsolete)) {
      bmp.push_back(static_cast<uint8_t>(c >> 8));
      bmp.push_back(static_cast<uint8_t>(c & 0xFF));
    }
    const der::Bytes file = der::Element(der::Explicit(2), {der::Element(der::Implicit(0), bmp)});
    const der::Bytes peImageData =
        der::Sequence({{der::kBitString, 1, 0}, der::Element(der::Explicit(0), {file})});
    return der::Sequence({der::Oid(kPeImageDataOid), peImageData});
  }
  static constexpr uint8_t kMsiSubject[16] = {0xF1, 0x10, 0x0C, 0x00, 0x00, 0x00, 0x00, 0x00,
                                              0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46};
  const der::Bytes zero = der::SmallInteger(0);
  const der::Bytes sipInfo =
      der::Sequence({der::SmallInteger(1), der::OctetString(kMsiSubject), zero, zero, zero, zero, zero});
  return der::Sequence({der::Oid(kSipInfoOid), sipInfo});
}

der::Bytes Attribute(const char* oid, const der::Bytes& value) {
  return der::Sequence({der::Oid(oid), der::SetOf({value})});
}

}  // namespace

bool EncodeSignature(const SignatureInput& input, der::Bytes& encoded) {
  encoded.clear();
  const der::Bytes digestInfo = der::Sequence({der::Algorithm(kSha256Oid), der::OctetString(input.digest)});
  const der::Bytes indirectData = der::Sequence({SubjectData(input.kind), digestInfo});
  // The message digest covers the content's value without its own tag and length.
  std::span<const uint8_t> indirectValue(indirectData);
  der::Parsed parsedIndirect;
  if (!der::Next(indirectValue, parsedIndirect)) {
    return false;
  }
  const std::vector<uint8_t> contentDigest = Sha256(parsedIndirect.content);
  if (contentDigest.empty()) {
    return false;
  }
  const std::vector<der::Bytes> attributes = {
      Attribute(kContentTypeOid, der::Oid(kIndirectDataOid)),
      Attribute(kMessageDigestOid, der::OctetString(contentDigest)),
      Attribute(kOpusInfoOid, der::Sequence({})),
      Attribute(kStatementTypeOid, der::Sequence({der::Oid(kIndividualCodeSigningOid)})),
  };
  // The signature is over the attributes encoded as a SET; the SignerInfo carries them as [0].
  der::Bytes signedAttributes = der::SetOf(attributes);
  std::vector<uint8_t> signature;
  if (!input.sign(signedAttributes, signature)) {
    return false;
  }
  signedAttributes[0] = der::Explicit(0);
  const der::Bytes serial = der::Element(der::kInteger, input.signerSerial);
  const der::Bytes signerInfo = der::Sequence({
      der::SmallInteger(1),
      der::Sequence({der::Bytes(input.signerIssuer.begin(), input.signerIssuer.end()), serial}),
      der::Algorithm(kSha256Oid),
      signedAttributes,
      der::Algorithm(kRsaOid),
      der::OctetString(signature),
  });
  der::Bytes certificates = der::SetOf(input.certificates);
  certificates[0] = der::Explicit(0);
  const der::Bytes signedData = der::Sequence({
      der::SmallInteger(1),
      der::SetOf({der::Algorithm(kSha256Oid)}),
      der::Sequence({der::Oid(kIndirectDataOid), der::Element(der::Explicit(0), {indirectData})}),
      certificates,
      der::SetOf({signerInfo}),
  });
  encoded = der::Sequence({der::Oid(kSignedDataOid), der::Element(der::Explicit(0), {signedData})});
  return true;
}

std::string OidText(std::span<const uint8_t> content) {
  std::string text;
  unsigned long value = 0;
  bool first = true;
  for (uint8_t byte : content) {
    value = (value << 7) | (byte & 0x7F);
    if (byte & 0x80) {
      continue;
    }
    if (first) {
      const unsigned long top = value < 80 ? value / 40 : 2;
      text.append(std::to_string(top));
      value -= top * 40;
      first = false;
    }
    text.push_back('.');
    text.append(std::to_string(value));
    value = 0;
  }
  return text;
}

bool ParseSignature(std::span<const uint8_t> encoded, ParsedSignature& parsed) {
  parsed = {};
  der::Parsed element;
  std::span<const uint8_t> rest = encoded;
  if (!der::Expect(rest, der::kSequence, element)) {
    return false;
  }
  std::span<const uint8_t> contentInfo = element.content;
  if (!der::Expect(contentInfo, der::kOid, element) || OidText(element.content) != kSignedDataOid ||
      !der::Expect(contentInfo, der::Explicit(0), element)) {
    return false;
  }
  std::span<const uint8_t> wrapper = element.content;
  if (!der::Expect(wrapper, der::kSequence, element)) {
    return false;
  }
  std::span<const uint8_t> signedData = element.content;
  der::Parsed version, algorithms, content;
  if (!der::Expect(signedData, der::kInteger, version) || !der::Expect(signedData, der::kSet, algorithms) ||
      !der::Expect(signedData, der::kSequence, content)) {
    return false;
  }
  std::span<const uint8_t> inner = content.content;
  if (!der::Expect(inner, der::kOid, element) || OidText(element.content) != kIndirectDataOid ||
      !der::Expect(inner, der::Explicit(0), element)) {
    return false;
  }
  std::span<const uint8_t> indirectWrapper = element.content;
  der::Parsed indirect, subject, digestInfo, algorithm, oid, digest;
  if (!der::Expect(indirectWrapper, der::kSequence, indirect)) {
    return false;
  }
  std::span<const uint8_t> indirectFields = indirect.content;
  if (!der::Expect(indirectFields, der::kSequence, subject) ||
      !der::Expect(indirectFields, der::kSequence, digestInfo)) {
    return false;
  }
  std::span<const uint8_t> digestFields = digestInfo.content;
  if (!der::Expect(digestFields, der::kSequence, algorithm) ||
      !der::Expect(digestFields, der::kOctetString, digest)) {
    return false;
  }
  std::span<const uint8_t> algorithmFields = algorithm.content;
  if (!der::Expect(algorithmFields, der::kOid, oid)) {
    return false;
  }
  parsed.digestAlgorithm = OidText(oid.content);
  parsed.digest = digest.content;
  der::Parsed next;
  if (!der::Next(signedData, next)) {
    return false;
  }
  if (next.tag == der::Explicit(0)) {
    for (std::span<const uint8_t> certificates = next.content; !certificates.empty();) {
      if (!der::Expect(certificates, der::kSequence, element)) {
        return false;
      }
      parsed.certificates.push_back(element.whole);
    }
    if (!der::Next(signedData, next)) {
      return false;
    }
  }
  if (next.tag == der::Explicit(1) && !der::Next(signedData, next)) {  // revocation lists
    return false;
  }
  std::span<const uint8_t> signerInfos = next.content;
  der::Parsed signerInfo, signerVersion, issuerAndSerial, issuer, serial;
  if (next.tag != der::kSet || !der::Expect(signerInfos, der::kSequence, signerInfo) ||
      !signerInfos.empty()) {
    return false;
  }
  std::span<const uint8_t> signerFields = signerInfo.content;
  if (!der::Expect(signerFields, der::kInteger, signerVersion) ||
      !der::Expect(signerFields, der::kSequence, issuerAndSerial)) {
    return false;
  }
  std::span<const uint8_t> issuerFields = issuerAndSerial.content;
  if (!der::Expect(issuerFields, der::kSequence, issuer) ||
      !der::Expect(issuerFields, der::kInteger, serial)) {
    return false;
  }
  parsed.signerIssuer = issuer.whole;
  parsed.signerSerial = serial.content;
  return true;
}

}  // namespace signing
