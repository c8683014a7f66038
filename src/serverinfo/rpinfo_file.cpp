#include "serverinfo/rpinfo_file.h"

#include <cstring>

#include "handles/handles.h"
#include "serverinfo/crc32.h"

namespace {

constexpr DWORD kCrcChunk = 1024;

constexpr RPInfoSectionSpan kSections[] = {
    {0, 1},
    {1, 90},
    {91, 5206},
    {5297, 2058},
};
static_assert(kSections[3].recordOffset + kSections[3].length == kServerInfoRecordSize);

bool Seek(HANDLE file, DWORD offset) {
  LARGE_INTEGER distance;
  distance.QuadPart = offset;
  return SetFilePointerEx(file, distance, nullptr, FILE_BEGIN) != 0;
}

bool WriteExactly(HANDLE file, const void* data, DWORD length) {
  DWORD written = 0;
  return WriteFile(file, data, length, &written, nullptr) && written == length;
}

bool ReadExactly(HANDLE file, void* data, DWORD length) {
  DWORD read = 0;
  return ReadFile(file, data, length, &read, nullptr) && read == length;
}

// The CRC of everything from the end of the header to the end of the file, read in chunks.
bool ComputeFileCrc(HANDLE file, uint32_t* crc) {
  if (!Seek(file, kServerInfoHeaderSize)) {
    return false;
  }
  static const Crc32 table;
  uint8_t chunk[kCrcChunk];
  uint32_t running = kCrc32Start;
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, chunk, kCrcChunk, &read, nullptr)) {
      return false;
    }
    if (read == 0) {
      break;
    }
    table.Update(chunk, read, &running);
  }
  *crc = ~running;
  return true;
}

bool WriteHeader(HANDLE file) {
  uint32_t crc = 0;
  if (!ComputeFileCrc(file, &crc) || !Seek(file, 0)) {
    return false;
  }
  uint8_t header[kServerInfoHeaderSize] = {};
  for (int i = 0; i < 4; ++i) {
    header[4 + i] = static_cast<uint8_t>(crc >> (8 * i));
  }
  return WriteExactly(file, header, kServerInfoHeaderSize);
}

// Reads the header and checks its CRC against the rest of the file.
bool CrcMatches(HANDLE file) {
  uint8_t header[kServerInfoHeaderSize];
  if (!Seek(file, 0) || !ReadExactly(file, header, kServerInfoHeaderSize)) {
    return false;
  }
  uint32_t stored = 0;
  for (int i = 0; i < 4; ++i) {
    stored |= static_cast<uint32_t>(header[4 + i]) << (8 * i);
  }
  uint32_t actual = 0;
  return ComputeFileCrc(file, &actual) && actual == stored;
}

fw::UniqueKernelHandle OpenForReading(const wchar_t* path) {
  return fw::UniqueKernelHandle(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Checks the file and reads length bytes at the file offset, unscrambled, into buffer. The
// buffer is zero on failure.
bool ReadVerified(const wchar_t* path, DWORD fileOffset, void* buffer, DWORD length) {
  std::memset(buffer, 0, length);
  fw::UniqueKernelHandle file = OpenForReading(path);
  if (!file || !CrcMatches(file.get()) || !Seek(file.get(), fileOffset) ||
      !ReadExactly(file.get(), buffer, length)) {
    std::memset(buffer, 0, length);
    return false;
  }
  ScrambleBytes(buffer, length);
  return true;
}

bool ValidSection(RPInfoSection section) {
  return section >= RPInfoSection::kFeature && section <= RPInfoSection::kPackage;
}

}  // namespace

RPInfoSectionSpan GetRPInfoSectionSpan(RPInfoSection section) {
  return ValidSection(section) ? kSections[static_cast<int>(section) - 1] : RPInfoSectionSpan{0, 0};
}

void ScrambleBytes(void* buffer, size_t length) {
  auto* bytes = static_cast<uint8_t*>(buffer);
  for (size_t i = 0; i < length; ++i) {
    bytes[i] = static_cast<uint8_t>((bytes[i] >> 4) | (bytes[i] << 4));
  }
}

bool CreateDefaultRPInfoDatFile(const ServerInfoRecord* record, const wchar_t* path, uint32_t* error) {
  if (record == nullptr || path == nullptr || error == nullptr) {
    return false;
  }
  *error = 0;
  fw::UniqueKernelHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_ALWAYS,
                                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  ServerInfoRecord stored;
  std::memcpy(&stored, record, sizeof stored);
  auto* bytes = reinterpret_cast<uint8_t*>(&stored);
  bool ok = Seek(file.get(), kServerInfoHeaderSize);
  for (const RPInfoSectionSpan& span : kSections) {
    if (!ok) {
      break;
    }
    uint8_t* section = bytes + span.recordOffset;
    ScrambleBytes(section, span.length);
    ok = WriteExactly(file.get(), section, span.length);
  }
  ok = ok && WriteHeader(file.get());
  file.reset();
  if (!ok) {
    DeleteFileW(path);
  }
  return ok;
}

bool VerifyRPInfoDatFile(const wchar_t* path) {
  fw::UniqueKernelHandle file = OpenForReading(path);
  return !file || CrcMatches(file.get());
}

bool ReadRPInfoDatFile(ServerInfoRecord* record, const wchar_t* path, uint32_t* error) {
  if (record == nullptr || path == nullptr || error == nullptr) {
    return false;
  }
  *error = 0;
  return ReadVerified(path, kServerInfoHeaderSize, record, kServerInfoRecordSize);
}

bool ReadRPInfoSection(RPInfoSection section, void* buffer, const wchar_t* path, uint32_t* error) {
  if (buffer == nullptr || path == nullptr || error == nullptr || !ValidSection(section)) {
    return false;
  }
  *error = 0;
  const RPInfoSectionSpan span = GetRPInfoSectionSpan(section);
  return ReadVerified(path, span.fileOffset(), buffer, span.length);
}

bool WriteRPInfoSection(RPInfoSection section, const void* buffer, const wchar_t* path, uint32_t* error) {
  if (buffer == nullptr || path == nullptr || error == nullptr || !ValidSection(section)) {
    return false;
  }
  *error = 0;
  // One handle for the check and the write, so that the file checked is the file written.
  fw::UniqueKernelHandle file(CreateFileW(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                          OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  if (existed && !CrcMatches(file.get())) {
    return false;
  }
  const RPInfoSectionSpan span = GetRPInfoSectionSpan(section);
  uint8_t stored[kServerInfoRecordSize];
  std::memcpy(stored, buffer, span.length);
  ScrambleBytes(stored, span.length);
  return Seek(file.get(), span.fileOffset()) && WriteExactly(file.get(), stored, span.length) &&
         WriteHeader(file.get());
}
