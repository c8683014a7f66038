#pragma once
// The few DER encodings a PKCS#7 signature needs, written and read. Writers return whole
// elements (tag, length, content); the reader walks one level of a buffer at a time and never
// reads past it.

#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace signing::der {

using Bytes = std::vector<uint8_t>;

inline constexpr uint8_t kInteger = 0x02;
inline constexpr uint8_t kBitString = 0x03;
inline constexpr uint8_t kOctetString = 0x04;
inline constexpr uint8_t kNull = 0x05;
inline constexpr uint8_t kOid = 0x06;
inline constexpr uint8_t kSequence = 0x30;
inline constexpr uint8_t kSet = 0x31;
// Context-specific constructed [n] and primitive [n].
constexpr uint8_t Explicit(uint8_t n) { return static_cast<uint8_t>(0xA0 | n); }
constexpr uint8_t Implicit(uint8_t n) { return static_cast<uint8_t>(0x80 | n); }

Bytes Element(uint8_t tag, std::span<const uint8_t> content);
Bytes Element(uint8_t tag, std::initializer_list<Bytes> parts);
inline Bytes Sequence(std::initializer_list<Bytes> parts) { return Element(kSequence, parts); }
// A SET OF: the elements in the ascending order of their encodings, as DER requires.
Bytes SetOf(std::vector<Bytes> elements);
// An object identifier from its dotted form ("1.2.840.113549.1.7.2").
Bytes Oid(const char* dotted);
Bytes SmallInteger(uint8_t value);
inline Bytes Null() { return {kNull, 0}; }
inline Bytes OctetString(std::span<const uint8_t> content) { return Element(kOctetString, content); }
// An AlgorithmIdentifier with NULL parameters.
inline Bytes Algorithm(const char* oid) { return Sequence({Oid(oid), Null()}); }

struct Parsed {
  uint8_t tag = 0;
  std::span<const uint8_t> content;  // the value alone
  std::span<const uint8_t> whole;    // tag, length and value
};

// Takes the next element off the front of `input`. False for a truncated or indefinite-length
// element, or one whose length runs past the buffer.
bool Next(std::span<const uint8_t>& input, Parsed& element);
// Next() that also requires the tag.
bool Expect(std::span<const uint8_t>& input, uint8_t tag, Parsed& element);

}  // namespace signing::der
