#pragma once
// Assembles the server-info record of one Windows or Mac build from the server's data and the
// package options, and writes it as rpinfo.dat.

#include <windows.h>

#include <cstdint>

#include "options/build_options.h"

// Seconds since 1970 of the local calendar date `days` days after nowUtc (seconds since 1970,
// UTC), at 23:59:59, with that wall-clock time taken as UTC. zone null means the system's time
// zone; its daylight-saving rules are applied at the target date.
bool ComputeValidityExpiryTime(int days, int64_t nowUtc, const TIME_ZONE_INFORMATION* zone, int64_t* expiry);

// The same for the current time in the system's time zone.
bool GetValidityExpiryTime(int days, int64_t* expiry);

// Queries the server data library in options.installFolder, adds the package choice (Minimal,
// validity period) and writes the file at path. error is set to 0 and stays 0. Traces under the
// tag "CreateRPInfoDatFileForClientPackager".
bool CreateRPInfoDatFileForClientPackager(const BuildOptions& options, const wchar_t* path, uint32_t* error);
