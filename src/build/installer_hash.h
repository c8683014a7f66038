#pragma once
// The SHA-256 of a finished installer, through the platform's hash functions (BCrypt).

#include <string>

// The hash of the file at `path` as 64 lowercase hexadecimal digits; false when the file cannot
// be opened or read whole, or the hash provider fails (`hex` is then empty).
bool HashFileSha256(const wchar_t* path, std::wstring& hex);
