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
  std::vector<der::Bytes> unsignedAttributes;
  if (input.countersign && !input.countersign(signature, unsignedAttributes)) {
    return false;
  }
  der::Bytes signerContent;
  for (const der::Bytes& part : {
           der::SmallInteger(1),
           der::Sequence({der::Bytes(input.signerIssuer.begin(), input.signerIssuer.end()), serial}),
           der::Algorithm(kSha256Oid),
           signedAttributes,
           der::Algorithm(kRsaOid),
           der::OctetString(signature),
       }) {
    signerContent.insert(signerContent.end(), part.begin(), part.end());
  }
  if (!unsignedAttributes.empty()) {
    der::Bytes attributes = der::SetOf(std::move(unsignedAttributes));
    attributes[0] = der::Explicit(1);
    signerContent.insert(signerContent.end(), attributes.begin(), attributes.end());
  }
  const der::Bytes signerInfo = der::Element(der::kSequence, signerContent);
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

bool ParseSignedData(std::span<const uint8_t> encoded, SignedDataParts& parts) {
  parts = {};
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
  der::Parsed version, algorithms, content, contentType;
  if (!der::Expect(signedData, der::kInteger, version) || !der::Expect(signedData, der::kSet, algorithms) ||
      !der::Expect(signedData, der::kSequence, content)) {
    return false;
  }
  std::span<const uint8_t> inner = content.content;
  if (!der::Expect(inner, der::kOid, contentType) || !der::Expect(inner, der::Explicit(0), element)) {
    return false;
  }
  parts.contentType = OidText(contentType.content);
  parts.content = element.content;
  der::Parsed next;
  if (!der::Next(signedData, next)) {
    return false;
  }
  if (next.tag == der::Explicit(0)) {
    for (std::span<const uint8_t> certificates = next.content; !certificates.empty();) {
      if (!der::Expect(certificates, der::kSequence, element)) {
        return false;
      }
      parts.certificates.push_back(element.whole);
    }
    if (!der::Next(signedData, next)) {
      return false;
    }
  }
  if (next.tag == der::Explicit(1) && !der::Next(signedData, next)) {  // revocation lists
    return false;
  }
  std::span<const uint8_t> signerInfos = next.content;
  der::Parsed signerInfo, signerVersion, issuerAndSerial, issuer, serial, digestAlgorithm, signatureAlgorithm,
      signatureValue;
  if (next.tag != der::kSet || !der::Expect(signerInfos, der::kSequence, signerInfo) ||
      !signerInfos.empty() || !signedData.empty()) {
    return false;
  }
  parts.signerInfo = signerInfo.whole;
  std::span<const uint8_t> signerFields = signerInfo.content;
  if (!der::Expect(signerFields, der::kInteger, signerVersion) ||
      !der::Expect(signerFields, der::kSequence, issuerAndSerial) ||
      !der::Expect(signerFields, der::kSequence, digestAlgorithm) || !der::Next(signerFields, next)) {
    return false;
  }
  if (next.tag == der::Explicit(0) && !der::Next(signerFields, next)) {  // signed attributes
    return false;
  }
  signatureAlgorithm = next;
  if (signatureAlgorithm.tag != der::kSequence ||
      !der::Expect(signerFields, der::kOctetString, signatureValue)) {
    return false;
  }
  parts.signatureValue = signatureValue.content;
  parts.signedPart = std::span<const uint8_t>(signerInfo.content.data(),
                                              signatureValue.whole.data() + signatureValue.whole.size());
  if (!signerFields.empty()) {
    der::Parsed unsignedAttributes;
    if (!der::Expect(signerFields, der::Explicit(1), unsignedAttributes) || !signerFields.empty()) {
      return false;
    }
    for (std::span<const uint8_t> attributes = unsignedAttributes.content; !attributes.empty();) {
      der::Parsed attribute, type, values;
      if (!der::Expect(attributes, der::kSequence, attribute)) {
        return false;
      }
      std::span<const uint8_t> fields = attribute.content;
      if (!der::Expect(fields, der::kOid, type) || !der::Expect(fields, der::kSet, values)) {
        return false;
      }
      UnsignedAttribute& kept = parts.unsignedAttributes.emplace_back();
      kept.type = OidText(type.content);
      kept.whole = attribute.whole;
      for (std::span<const uint8_t> list = values.content; !list.empty();) {
        if (!der::Next(list, element)) {
          return false;
        }
        kept.values.push_back(element.whole);
      }
    }
  }
  std::span<const uint8_t> issuerFields = issuerAndSerial.content;
  if (!der::Expect(issuerFields, der::kSequence, issuer) ||
      !der::Expect(issuerFields, der::kInteger, serial)) {
    return false;
  }
  parts.signerIssuer = issuer.whole;
  parts.signerSerial = serial.content;
  return true;
}

bool ParseSignature(std::span<const uint8_t> encoded, ParsedSignature& parsed) {
  parsed = {};
  if (!ParseSignedData(encoded, parsed.signedData) || parsed.signedData.contentType != kIndirectDataOid) {
    return false;
  }
  std::span<const uint8_t> indirectWrapper = parsed.signedData.content;
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
  return true;
}

bool NestSignature(std::span<const uint8_t> outer, std::span<const uint8_t> nested, der::Bytes& combined) {
  combined.clear();
  SignedDataParts parts;
  if (!ParseSignedData(outer, parts)) {
    return false;
  }
  // The signer's fields up to its signature value stay as they are; the unsigned attributes
  // follow with the nested signature added to those already there.
  std::vector<der::Bytes> attributes;
  bool added = false;
  for (const UnsignedAttribute& attribute : parts.unsignedAttributes) {
    if (attribute.type != kNestedSignatureOid) {
      attributes.emplace_back(attribute.whole.begin(), attribute.whole.end());
      continue;
    }
    std::vector<der::Bytes> values;
    for (std::span<const uint8_t> value : attribute.values) {
      values.emplace_back(value.begin(), value.end());
    }
    values.emplace_back(nested.begin(), nested.end());
    // The values keep their order: verifiers number nested signatures in it.
    der::Bytes list;
    for (const der::Bytes& value : values) {
      list.insert(list.end(), value.begin(), value.end());
    }
    attributes.push_back(der::Sequence({der::Oid(kNestedSignatureOid), der::Element(der::kSet, list)}));
    added = true;
  }
  if (!added) {
    attributes.push_back(Attribute(kNestedSignatureOid, der::Bytes(nested.begin(), nested.end())));
  }
  der::Bytes unsignedAttributes = der::SetOf(std::move(attributes));
  unsignedAttributes[0] = der::Explicit(1);
  der::Bytes signerContent(parts.signedPart.begin(), parts.signedPart.end());
  signerContent.insert(signerContent.end(), unsignedAttributes.begin(), unsignedAttributes.end());
  const der::Bytes signerInfo = der::Element(der::kSequence, signerContent);
  // Everything of the SignedData before its signer infos, as it was.
  std::span<const uint8_t> rest = outer;
  der::Parsed contentInfo, type, wrapper, signedData;
  if (!der::Expect(rest, der::kSequence, contentInfo)) {
    return false;
  }
  std::span<const uint8_t> fields = contentInfo.content;
  if (!der::Expect(fields, der::kOid, type) || !der::Expect(fields, der::Explicit(0), wrapper)) {
    return false;
  }
  std::span<const uint8_t> wrapped = wrapper.content;
  if (!der::Expect(wrapped, der::kSequence, signedData)) {
    return false;
  }
  // The signer infos are the SignedData's last element: everything before them stays.
  const uint8_t* last = signedData.content.data();
  for (std::span<const uint8_t> walk = signedData.content; !walk.empty();) {
    last = walk.data();
    der::Parsed element;
    if (!der::Next(walk, element)) {
      return false;
    }
  }
  der::Bytes signedContent(signedData.content.data(), last);
  const der::Bytes signerInfos = der::Element(der::kSet, signerInfo);
  signedContent.insert(signedContent.end(), signerInfos.begin(), signerInfos.end());
  combined = der::Sequence({der::Bytes(type.whole.begin(), type.whole.end()),
                            der::Element(der::Explicit(0), {der::Element(der::kSequence, signedContent)})});
  return true;
}

}  // namespace signing
