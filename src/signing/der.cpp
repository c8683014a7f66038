#include "signing/der.h"

#include <algorithm>
#include <cstdlib>

namespace signing::der {

Bytes Element(uint8_t tag, std::span<const uint8_t> content) {
  Bytes out{tag};
  const size_t length = content.size();
  if (length < 0x80) {
    out.push_back(static_cast<uint8_t>(length));
  } else {
    uint8_t digits[sizeof(size_t)];
    int count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) {
      digits[count++] = static_cast<uint8_t>(rest & 0xFF);
    }
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count > 0) {
      out.push_back(digits[--count]);
    }
  }
  out.insert(out.end(), content.begin(), content.end());
  return out;
}

Bytes Element(uint8_t tag, std::initializer_list<Bytes> parts) {
  Bytes content;
  for (const Bytes& part : parts) {
    content.insert(content.end(), part.begin(), part.end());
  }
  return Element(tag, content);
}

Bytes SetOf(std::vector<Bytes> elements) {
  std::sort(elements.begin(), elements.end(), [](const Bytes& a, const Bytes& b) {
    const size_t common = std::min(a.size(), b.size());
    for (size_t i = 0; i < common; ++i) {
      if (a[i] != b[i]) {
        return a[i] < b[i];
      }
    }
    return a.size() < b.size();
  });
  Bytes content;
  for (const Bytes& element : elements) {
    content.insert(content.end(), element.begin(), element.end());
  }
  return Element(kSet, content);
}

Bytes Oid(const char* dotted) {
  std::vector<unsigned long> arcs;
  for (const char* p = dotted; *p != '\0';) {
    char* end = nullptr;
    arcs.push_back(std::strtoul(p, &end, 10));
    p = *end == '.' ? end + 1 : end;
  }
  Bytes content;
  const auto base128 = [&content](unsigned long value) {
    uint8_t digits[5];
    int count = 0;
    do {
      digits[count++] = static_cast<uint8_t>(value & 0x7F);
      value >>= 7;
    } while (value != 0);
    while (count > 1) {
      content.push_back(static_cast<uint8_t>(0x80 | digits[--count]));
    }
    content.push_back(digits[0]);
  };
  base128(arcs[0] * 40 + arcs[1]);
  for (size_t i = 2; i < arcs.size(); ++i) {
    base128(arcs[i]);
  }
  return Element(kOid, content);
}

Bytes SmallInteger(uint8_t value) {
  if (value < 0x80) {
    return {kInteger, 1, value};
  }
  return {kInteger, 2, 0, value};
}

bool Next(std::span<const uint8_t>& input, Parsed& element) {
  if (input.size() < 2) {
    return false;
  }
  size_t header = 2;
  size_t length = input[1];
  if (length & 0x80) {
    const size_t count = length & 0x7F;
    if (count == 0 || count > 4 || input.size() < 2 + count) {
      return false;
    }
    length = 0;
    for (size_t i = 0; i < count; ++i) {
      length = (length << 8) | input[2 + i];
    }
    header += count;
  }
  if (length > input.size() - header) {
    return false;
  }
  element.tag = input[0];
  element.content = input.subspan(header, length);
  element.whole = input.first(header + length);
  input = input.subspan(header + length);
  return true;
}

bool Expect(std::span<const uint8_t>& input, uint8_t tag, Parsed& element) {
  return Next(input, element) && element.tag == tag;
}

}  // namespace signing::der
