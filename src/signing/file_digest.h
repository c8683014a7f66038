#pragma once
// The Authenticode digests of the two kinds of file this program signs, streamed: a PE image is
// read in blocks, an MSI database stream by stream, never whole.

#include <objidl.h>
#include <windows.h>

#include <cstdint>

#include "signing/hasher.h"

namespace signing {

// Where the fields that a signature changes sit in a PE image.
struct PeLayout {
  uint32_t checksumOffset = 0;       // the optional header's CheckSum
  uint32_t securityEntryOffset = 0;  // the certificate table's data directory entry (8 bytes)
  uint32_t certificateTable = 0;     // the entry's file offset and size; both 0 when unsigned
  uint32_t certificateTableSize = 0;
};

enum class PeRead { kOk, kReadFailed, kNotPe };

// Reads the headers of the open file `file` of `size` bytes. kNotPe for anything that is not a
// PE32 or PE32+ image with a certificate table entry, or whose entry points outside the file.
PeRead ReadPeLayout(HANDLE file, uint64_t size, PeLayout& layout);

// The ones' complement sum of the 16-bit words the PE checksum is made of, before the file size
// is added. Words are added in any order; Fold() gives the 16-bit result.
class PeChecksum {
 public:
  // `data` starts at an even file offset and has an even length.
  void Add(const uint8_t* data, size_t length);
  uint32_t Finish(uint32_t fileSize) const;

 private:
  uint64_t sum_ = 0;
};

// Hashes bytes [0, end) of the file except the checksum and the certificate table entry, and adds
// every word of those bytes to `checksum` (if given) with the checksum field and the entry read
// as zero. `end` must be even. False when a read fails.
bool DigestPe(HANDLE file, const PeLayout& layout, uint64_t end, Hasher& hasher, PeChecksum* checksum);

// The names of the signature streams at the top of a signed MSI database.
inline constexpr wchar_t kMsiSignatureStream[] =
    L"\x0005"
    L"DigitalSignature";
inline constexpr wchar_t kMsiSignatureExStream[] =
    L"\x0005"
    L"MsiDigitalSignatureEx";

// Hashes every stream of `storage` and its sub-storages, each level in the order of the names'
// UTF-16LE bytes with their terminator, each storage's class ID after its contents; the two
// signature streams at the top are left out. False with the failing call's HRESULT in `error`.
bool DigestMsi(IStorage* storage, Hasher& hasher, HRESULT& error);

}  // namespace signing
