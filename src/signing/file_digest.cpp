#include "signing/file_digest.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "handles/handles.h"

namespace signing {

namespace {

constexpr size_t kBlock = 1 << 16;

uint16_t Word(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Dword(const uint8_t* p) { return Word(p) | (static_cast<uint32_t>(Word(p + 2)) << 16); }

bool ReadAt(HANDLE file, uint64_t offset, uint8_t* buffer, DWORD length, DWORD& got) {
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(file, position, nullptr, FILE_BEGIN) &&
         ::ReadFile(file, buffer, length, &got, nullptr);
}

}  // namespace

PeRead ReadPeLayout(HANDLE file, uint64_t size, PeLayout& layout) {
  layout = {};
  uint8_t dos[64];
  DWORD got = 0;
  if (!ReadAt(file, 0, dos, sizeof dos, got)) {
    return PeRead::kReadFailed;
  }
  if (got < sizeof dos || dos[0] != 'M' || dos[1] != 'Z') {
    return PeRead::kNotPe;
  }
  const uint32_t peOffset = Dword(dos + 60);
  // Signature, file header, and the optional header up to the certificate table entry of a PE32+.
  uint8_t headers[4 + 20 + 152];
  if (peOffset > size) {
    return PeRead::kNotPe;
  }
  if (!ReadAt(file, peOffset, headers, sizeof headers, got)) {
    return PeRead::kReadFailed;
  }
  if (got < sizeof headers || std::memcmp(headers, "PE\0\0", 4) != 0) {
    return PeRead::kNotPe;
  }
  const uint16_t optionalSize = Word(headers + 4 + 16);
  const uint8_t* optional = headers + 24;
  const uint16_t magic = Word(optional);
  uint32_t directories;  // offset of the data directories in the optional header
  if (magic == 0x10B) {
    directories = 96;
  } else if (magic == 0x20B) {
    directories = 112;
  } else {
    return PeRead::kNotPe;
  }
  const uint32_t count = Dword(optional + directories - 4);
  constexpr uint32_t kSecurity = 4;
  if (count <= kSecurity || optionalSize < directories + 8 * (kSecurity + 1)) {
    return PeRead::kNotPe;
  }
  layout.checksumOffset = peOffset + 24 + 64;
  layout.securityEntryOffset = peOffset + 24 + directories + 8 * kSecurity;
  layout.certificateTable = Dword(optional + directories + 8 * kSecurity);
  layout.certificateTableSize = Dword(optional + directories + 8 * kSecurity + 4);
  const uint64_t tableEnd = uint64_t{layout.certificateTable} + layout.certificateTableSize;
  if (layout.certificateTableSize != 0 &&
      (layout.certificateTable <= layout.securityEntryOffset + 8 || tableEnd > size)) {
    return PeRead::kNotPe;
  }
  return PeRead::kOk;
}

void PeChecksum::Add(const uint8_t* data, size_t length) {
  for (size_t i = 0; i + 1 < length; i += 2) {
    sum_ += Word(data + i);
  }
}

uint32_t PeChecksum::Finish(uint32_t fileSize) const {
  uint64_t sum = sum_;
  while (sum > 0xFFFF) {
    sum = (sum & 0xFFFF) + (sum >> 16);
  }
  return static_cast<uint32_t>(sum) + fileSize;
}

bool DigestPe(HANDLE file, const PeLayout& layout, uint64_t end, Hasher& hasher, PeChecksum* checksum) {
  // The parts of the file the digest covers, in order: all but the checksum and the entry.
  const uint64_t checksumField = layout.checksumOffset;
  const uint64_t entry = layout.securityEntryOffset;
  const uint64_t covered[3][2] = {{0, checksumField}, {checksumField + 4, entry}, {entry + 8, end}};
  std::vector<uint8_t> buffer(kBlock);
  LARGE_INTEGER start{};
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) {
    return false;
  }
  for (uint64_t position = 0; position < end;) {
    const DWORD wanted = static_cast<DWORD>(std::min<uint64_t>(kBlock, end - position));
    DWORD got = 0;
    if (!::ReadFile(file, buffer.data(), wanted, &got, nullptr) || got != wanted) {
      return false;
    }
    const uint64_t blockEnd = position + got;
    // The checksum field and the certificate table's entry count as zero in the checksum,
    // whatever they hold now: the caller adds the entry it writes (neither is hashed).
    for (const auto& [from, to] :
         {std::pair{checksumField, checksumField + 4}, std::pair{entry, entry + 8}}) {
      for (uint64_t i = std::max(position, from); i < std::min(blockEnd, to); ++i) {
        buffer[i - position] = 0;
      }
    }
    if (checksum != nullptr) {
      checksum->Add(buffer.data(), got);
    }
    for (const auto& part : covered) {
      const uint64_t from = std::max(part[0], position);
      const uint64_t to = std::min(part[1], blockEnd);
      if (from < to && !hasher.Add({buffer.data() + (from - position), static_cast<size_t>(to - from)})) {
        return false;
      }
    }
    position = blockEnd;
  }
  return true;
}

namespace {

struct Entry {
  std::wstring name;
  DWORD type = 0;
};

// Compares the names' UTF-16LE bytes, the terminator included.
bool NameBefore(const Entry& a, const Entry& b) {
  const size_t length = std::min(a.name.size(), b.name.size()) + 1;
  for (size_t i = 0; i < length; ++i) {
    const wchar_t x = a.name.c_str()[i];
    const wchar_t y = b.name.c_str()[i];
    if ((x & 0xFF) != (y & 0xFF)) {
      return (x & 0xFF) < (y & 0xFF);
    }
    if ((x >> 8) != (y >> 8)) {
      return (x >> 8) < (y >> 8);
    }
  }
  return false;
}

struct CoTaskStringTraits {
  using Type = LPOLESTR;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type p) noexcept { return p != nullptr; }
  static bool Close(Type p) noexcept {
    ::CoTaskMemFree(p);
    return true;
  }
};

bool DigestStorage(IStorage* storage, bool top, Hasher& hasher, HRESULT& error) {
  fw::UniqueCom<IEnumSTATSTG> elements;
  if (FAILED(error = storage->EnumElements(0, nullptr, 0, elements.put()))) {
    return false;
  }
  std::vector<Entry> entries;
  for (;;) {
    STATSTG stat{};
    ULONG fetched = 0;
    error = elements.get()->Next(1, &stat, &fetched);
    if (FAILED(error)) {
      return false;
    }
    if (error != S_OK || fetched != 1) {
      break;
    }
    fw::UniqueHandle<CoTaskStringTraits> name(stat.pwcsName);
    const bool signature = top && (std::wcscmp(name.get(), kMsiSignatureStream) == 0 ||
                                   std::wcscmp(name.get(), kMsiSignatureExStream) == 0);
    if (!signature && (stat.type == STGTY_STREAM || stat.type == STGTY_STORAGE)) {
      entries.push_back({name.get(), stat.type});
    }
  }
  std::sort(entries.begin(), entries.end(), NameBefore);
  std::vector<uint8_t> buffer(kBlock);
  for (const Entry& entry : entries) {
    if (entry.type == STGTY_STORAGE) {
      fw::UniqueCom<IStorage> child;
      if (FAILED(error = storage->OpenStorage(entry.name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE,
                                              nullptr, 0, child.put())) ||
          !DigestStorage(child.get(), false, hasher, error)) {
        return false;
      }
      continue;
    }
    fw::UniqueCom<IStream> stream;
    if (FAILED(error = storage->OpenStream(entry.name.c_str(), nullptr, STGM_READ | STGM_SHARE_EXCLUSIVE, 0,
                                           stream.put()))) {
      return false;
    }
    for (;;) {
      ULONG got = 0;
      if (FAILED(error = stream.get()->Read(buffer.data(), static_cast<ULONG>(buffer.size()), &got))) {
        return false;
      }
      if (got == 0) {
        break;
      }
      if (!hasher.Add({buffer.data(), got})) {
        error = E_FAIL;
        return false;
      }
    }
  }
  STATSTG self{};
  if (FAILED(error = storage->Stat(&self, STATFLAG_NONAME))) {
    return false;
  }
  if (!hasher.Add({reinterpret_cast<const uint8_t*>(&self.clsid), sizeof self.clsid})) {
    error = E_FAIL;
    return false;
  }
  error = S_OK;
  return true;
}

}  // namespace

bool DigestMsi(IStorage* storage, Hasher& hasher, HRESULT& error) {
  return DigestStorage(storage, true, hasher, error);
}

}  // namespace signing
