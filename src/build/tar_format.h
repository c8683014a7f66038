#pragma once
// The TAR layout the program writes and reads back: 512-byte blocks, each entry a header block
// followed by its content padded to whole blocks, and two zero blocks at the end. Numbers are
// octal text; the checksum is the sum of the header's bytes with its own field counted as eight
// spaces. A name longer than the header's 100-byte field travels in a GNU "././@LongLink" entry
// (typeflag 'L') whose content is the name with its terminator, just before the entry it names.
// Names are bytes in the ANSI code page; converting them is the caller's business.

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

// Largest file the 11-octal-digit size field holds: 8 GiB - 1.
inline constexpr uint64_t kTarMaxFileSize = 077777777777ull;
// Longest entry name: the long-name entry carries it in one 512-byte block with its terminator.
inline constexpr size_t kTarMaxNameLength = 511;

namespace tarformat {

inline constexpr size_t kBlockSize = 512;
inline constexpr size_t kNameFieldLength = 100;
inline constexpr char kTypeFile = '0';
inline constexpr char kTypeFolder = '5';
inline constexpr char kTypeLongName = 'L';

using Block = unsigned char[kBlockSize];

// Formats `value` into a 12-byte size or mtime field: the octal digits right-aligned to end at
// byte 10, leading spaces, a space at byte 11. False when it needs more than 11 digits.
bool FormatNumberField(uint64_t value, char (&field)[12]);

// The value of a number field: optional leading spaces, at least one octal digit, then only
// spaces or NUL bytes. False for anything else, including values beyond 64 bits.
bool ParseNumberField(const unsigned char* field, size_t length, uint64_t* value);

// The headers of one entry with mode "000777 ", zero owner and group, and `mtime` (seconds,
// truncated to 32 bits): one block when the name fits the name field, else three (the long-name
// header, the name, and the entry's header holding the name's first 99 bytes). Returns the number
// of blocks filled, or 0 when the name is empty or longer than kTarMaxNameLength or the size
// exceeds kTarMaxFileSize.
size_t FillEntryHeaders(Block (&blocks)[3], const char* name, uint64_t size, uint64_t mtime, char typeflag);

bool ChecksumMatches(const Block& block);
bool IsZeroBlock(const Block& block);

// One entry as its headers describe it; `name` is the full name, long or not.
struct Entry {
  std::string name;
  char type = '\0';
  uint64_t size = 0;
};

enum class ReadResult { kEntry, kEnd, kDamaged };

// Why a reader stopped on a damaged archive.
enum class Damage {
  kNone,
  kCannotRead,   // the file could not be read or positioned
  kCutShort,     // it ends inside a header or before its end block
  kBadHeader,    // a checksum or a number field is wrong
  kPastEnd,      // an entry's content runs past the end of the file
  kBadLongName,  // a long name is empty, longer than one block, unterminated, or names nothing
};

// English words for `damage`, for messages.
const wchar_t* DescribeDamage(Damage damage);

// Reads an archive header by header from an open file, seeking over each entry's content, so
// memory stays flat whatever the archive's size. Every header's checksum and size are checked
// against the file's length before anything is trusted. The handle stays the caller's.
class Reader {
 public:
  explicit Reader(HANDLE file) : file_(file) {}
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  // The next entry, following a long name to the entry it names; kEnd at the first zero block.
  // After kDamaged, damage() and offset() tell what and where; later calls give kDamaged again.
  ReadResult Next(Entry& entry);
  // The content of the entry Next gave last, read whole; false when it is larger than `limit`
  // bytes or cannot be read.
  bool ReadContent(size_t limit, std::string& bytes);
  // After kEnd: true when the end is exactly two zero blocks with nothing after them.
  bool EndsExactly();
  // The offset of the header read last: where reading stopped, after kEnd or kDamaged.
  uint64_t offset() const { return header_; }
  Damage damage() const { return damage_; }

 private:
  bool ReadBlockAt(uint64_t offset, Block& block);
  ReadResult Fail(Damage damage);

  HANDLE file_;
  uint64_t length_ = 0;
  bool started_ = false;
  uint64_t header_ = 0;   // where the current entry's first header begins
  uint64_t content_ = 0;  // where its content begins
  uint64_t size_ = 0;     // its content's length
  uint64_t next_ = 0;     // where the next header begins
  Damage damage_ = Damage::kNone;
};

}  // namespace tarformat
