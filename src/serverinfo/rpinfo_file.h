#pragma once
// The server-info record file rpinfo.dat: an 8-byte header (four zero bytes, then the CRC-32 of
// everything after the header, little-endian) followed by the record in four sections. Every
// stored record byte has its two nibbles exchanged.
//
// The writers scramble a copy: the caller's record or section buffer is never changed.

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "serverinfo/server_info_record.h"

inline constexpr wchar_t kServerInfoFileName[] = L"rpinfo.dat";
inline constexpr DWORD kServerInfoHeaderSize = 8;
inline constexpr DWORD kServerInfoFileSize = kServerInfoHeaderSize + kServerInfoRecordSize;

enum class RPInfoSection : int {
  kFeature = 1,     // record byte 0
  kServerText = 2,  // record bytes 1 to 90
  kServerData = 3,  // record bytes 91 to 5296
  kPackage = 4,     // record bytes 5297 to 7354
};

struct RPInfoSectionSpan {
  DWORD recordOffset;
  DWORD length;
  DWORD fileOffset() const { return kServerInfoHeaderSize + recordOffset; }
};

// Where a section lies; a zero-length span for a value outside the four sections.
RPInfoSectionSpan GetRPInfoSectionSpan(RPInfoSection section);

// Exchanges the high and low nibble of every byte; the same call undoes it.
void ScrambleBytes(void* buffer, size_t length);

// Writes a whole file from the record, replacing any file at the path. On a failure after the
// file was created, the file is deleted. error is set to 0 and stays 0.
bool CreateDefaultRPInfoDatFile(const ServerInfoRecord* record, const wchar_t* path, uint32_t* error);

// True when the header's CRC matches the rest of the file, and also when the file cannot be
// opened for reading (no file is a valid starting point for section writes).
bool VerifyRPInfoDatFile(const wchar_t* path);

// Reads and unscrambles the whole record, or one section into a buffer of the section's length.
// The file must exist and pass its CRC check. On failure the buffer is left zeroed.
bool ReadRPInfoDatFile(ServerInfoRecord* record, const wchar_t* path, uint32_t* error);
bool ReadRPInfoSection(RPInfoSection section, void* buffer, const wchar_t* path, uint32_t* error);

// Writes one section (the buffer holds the section's length of plain bytes) and renews the CRC.
// An existing file must pass its CRC check first, or it is left untouched; a missing file is
// created, zero-filled up to the section. A failure later on leaves the file in place.
bool WriteRPInfoSection(RPInfoSection section, const void* buffer, const wchar_t* path, uint32_t* error);
