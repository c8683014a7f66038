#include "build/tar_format.h"

#include <cstring>

namespace tarformat {
namespace {

constexpr size_t kNameOffset = 0;
constexpr size_t kModeOffset = 100;
constexpr size_t kSizeOffset = 124;
constexpr size_t kSizeLength = 12;
constexpr size_t kMtimeOffset = 136;
constexpr size_t kChecksumOffset = 148;
constexpr size_t kChecksumLength = 8;
constexpr size_t kTypeflagOffset = 156;

constexpr char kModeText[8] = {'0', '0', '0', '7', '7', '7', ' ', '\0'};
constexpr char kLongLinkName[] = "././@LongLink";

// At most 512 x 255, which always fits six octal digits.
unsigned Checksum(const Block& block) {
  unsigned sum = 0;
  for (size_t i = 0; i < kBlockSize; ++i) {
    sum += (i >= kChecksumOffset && i < kChecksumOffset + kChecksumLength) ? ' ' : block[i];
  }
  return sum;
}

// A zeroed header: name (up to 100 bytes, terminated only when shorter), mode, size, mtime,
// typeflag, then the checksum written as six digits, NUL and space.
bool FillHeader(Block& block, const char* name, size_t nameLength, uint64_t size, const char (&mtime)[12],
                char typeflag) {
  memset(block, 0, kBlockSize);
  memcpy(block + kNameOffset, name, nameLength < kNameFieldLength ? nameLength : kNameFieldLength);
  memcpy(block + kModeOffset, kModeText, sizeof(kModeText));
  char sizeField[12];
  if (!FormatNumberField(size, sizeField)) {
    return false;
  }
  memcpy(block + kSizeOffset, sizeField, sizeof(sizeField));
  memcpy(block + kMtimeOffset, mtime, sizeof(mtime));
  block[kTypeflagOffset] = static_cast<unsigned char>(typeflag);
  unsigned sum = Checksum(block);
  for (size_t digit = 6; digit-- > 0; sum >>= 3) {
    block[kChecksumOffset + digit] = static_cast<unsigned char>('0' + (sum & 7));
  }
  block[kChecksumOffset + 6] = '\0';
  block[kChecksumOffset + 7] = ' ';
  return true;
}

uint64_t PaddedLength(uint64_t size) { return (size + kBlockSize - 1) / kBlockSize * kBlockSize; }

}  // namespace

bool FormatNumberField(uint64_t value, char (&field)[12]) {
  if (value > kTarMaxFileSize) {
    return false;
  }
  memset(field, ' ', sizeof(field));
  size_t end = 11;  // byte 11 stays a space
  do {
    field[--end] = static_cast<char>('0' + (value & 7));
    value >>= 3;
  } while (value != 0);
  return true;
}

bool ParseNumberField(const unsigned char* field, size_t length, uint64_t* value) {
  size_t i = 0;
  while (i < length && field[i] == ' ') {
    ++i;
  }
  if (i == length || field[i] < '0' || field[i] > '7') {
    return false;
  }
  uint64_t result = 0;
  for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i) {
    if (result >> 61 != 0) {
      return false;
    }
    result = result * 8 + (field[i] - '0');
  }
  for (; i < length; ++i) {
    if (field[i] != ' ' && field[i] != '\0') {
      return false;
    }
  }
  *value = result;
  return true;
}

size_t FillEntryHeaders(Block (&blocks)[3], const char* name, uint64_t size, uint64_t mtime, char typeflag) {
  const size_t nameLength = strnlen(name, kTarMaxNameLength + 1);
  char mtimeField[12];
  if (nameLength == 0 || nameLength > kTarMaxNameLength || size > kTarMaxFileSize ||
      !FormatNumberField(mtime & 0xFFFFFFFFull, mtimeField)) {
    return 0;
  }
  if (nameLength <= kNameFieldLength) {
    return FillHeader(blocks[0], name, nameLength, size, mtimeField, typeflag) ? 1 : 0;
  }
  if (!FillHeader(blocks[0], kLongLinkName, sizeof(kLongLinkName) - 1, nameLength + 1, mtimeField,
                  kTypeLongName) ||
      !FillHeader(blocks[2], name, kNameFieldLength - 1, size, mtimeField, typeflag)) {
    return 0;
  }
  memset(blocks[1], 0, kBlockSize);
  memcpy(blocks[1], name, nameLength);
  return 3;
}

bool ChecksumMatches(const Block& block) {
  uint64_t stored = 0;
  return ParseNumberField(block + kChecksumOffset, kChecksumLength, &stored) && stored == Checksum(block);
}

bool IsZeroBlock(const Block& block) {
  for (size_t i = 0; i < kBlockSize; ++i) {
    if (block[i] != 0) {
      return false;
    }
  }
  return true;
}

const wchar_t* DescribeDamage(Damage damage) {
  switch (damage) {
    case Damage::kNone:
      return L"no damage";
    case Damage::kCannotRead:
      return L"cannot be read";
    case Damage::kCutShort:
      return L"ends inside a header or before its end blocks";
    case Damage::kBadHeader:
      return L"has a damaged header";
    case Damage::kPastEnd:
      return L"has an entry that runs past the end of the file";
    case Damage::kBadLongName:
      return L"has a damaged long name";
  }
  return L"is damaged";
}

ReadResult Reader::Fail(Damage damage) {
  damage_ = damage;
  return ReadResult::kDamaged;
}

bool Reader::ReadBlockAt(uint64_t offset, Block& block) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  DWORD got = 0;
  return ::SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) &&
         ::ReadFile(file_, block, kBlockSize, &got, nullptr) && got == kBlockSize;
}

ReadResult Reader::Next(Entry& entry) {
  if (damage_ != Damage::kNone) {
    return ReadResult::kDamaged;
  }
  if (!started_) {
    LARGE_INTEGER length;
    if (!::GetFileSizeEx(file_, &length)) {
      return Fail(Damage::kCannotRead);
    }
    length_ = static_cast<uint64_t>(length.QuadPart);
    started_ = true;
  }
  header_ = next_;
  entry = {};
  bool longName = false;
  for (;;) {
    Block block;
    if (next_ > length_ || length_ - next_ < kBlockSize) {
      return Fail(Damage::kCutShort);
    }
    if (!ReadBlockAt(next_, block)) {
      return Fail(Damage::kCannotRead);
    }
    if (IsZeroBlock(block)) {
      if (longName) {
        return Fail(Damage::kBadLongName);
      }
      return ReadResult::kEnd;
    }
    uint64_t size = 0;
    if (!ChecksumMatches(block) || !ParseNumberField(block + kSizeOffset, kSizeLength, &size)) {
      return Fail(Damage::kBadHeader);
    }
    const uint64_t content = next_ + kBlockSize;
    if (size > length_ || PaddedLength(size) > length_ - content) {
      return Fail(Damage::kPastEnd);
    }
    const char type = static_cast<char>(block[kTypeflagOffset]);
    if (type == kTypeLongName) {
      Block name;
      // One long name per entry, one block long, terminated where its size says.
      if (longName || size < 2 || size > kBlockSize || !ReadBlockAt(content, name) ||
          name[size - 1] != '\0' || name[0] == '\0') {
        return Fail(Damage::kBadLongName);
      }
      entry.name = reinterpret_cast<const char*>(name);
      longName = true;
      next_ = content + kBlockSize;
      continue;
    }
    if (!longName) {
      entry.name.assign(reinterpret_cast<const char*>(block),
                        strnlen(reinterpret_cast<const char*>(block), kNameFieldLength));
    }
    entry.type = type;
    entry.size = size;
    content_ = content;
    size_ = size;
    next_ = content + PaddedLength(size);
    return ReadResult::kEntry;
  }
}

bool Reader::ReadContent(size_t limit, std::string& bytes) {
  if (size_ > limit) {
    return false;
  }
  bytes.assign(static_cast<size_t>(size_), '\0');
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(content_);
  DWORD got = 0;
  return bytes.empty() || (::SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) &&
                           ::ReadFile(file_, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) &&
                           got == bytes.size());
}

bool Reader::EndsExactly() {
  Block second;
  return damage_ == Damage::kNone && length_ >= kBlockSize * 2 && next_ == length_ - kBlockSize * 2 &&
         ReadBlockAt(next_ + kBlockSize, second) && IsZeroBlock(second);
}

}  // namespace tarformat
