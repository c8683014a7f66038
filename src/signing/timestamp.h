#pragma once
// RFC 3161 timestamps for a signature: the request built here, sent to a time-stamp authority
// over HTTP or HTTPS with WinHTTP (the system's proxy setting, a time limit), and the token it
// answers read back and checked against the request.

#include <windows.h>

#include <span>
#include <string>
#include <vector>

#include "signing/der.h"

namespace signing {

// How long an authority may take to connect, to take the request and to answer it, each.
inline constexpr DWORD kTimestampTimeoutMs = 15000;

// What a timestamp token says. The spans point into the token.
struct TimestampToken {
  std::string imprintAlgorithm;      // dotted object identifier
  std::span<const uint8_t> imprint;  // the hash the authority stamped
  std::span<const uint8_t> nonce;    // INTEGER content; empty when the token has none
  std::wstring time;                 // "YYYY-MM-DD hh:mm:ss UTC"
  std::wstring authority;            // the subject of the certificate that signed the token
};

// Reads a token (a ContentInfo holding a SignedData over a TSTInfo). False for anything else.
bool ParseTimestampToken(std::span<const uint8_t> token, TimestampToken& parsed);

// True for an http:// or https:// URL with a host, which WinHTTP can take apart.
bool IsTimestampUrl(const std::wstring& url);

// Asks the authority at `url` to stamp `signatureValue`: SHA-256 of it as the message imprint,
// a random nonce, its certificates asked for. The token is taken only with status granted (0)
// or granted with modifications (1) and when its nonce and imprint are the request's. False with
// `problem` saying what went wrong (the server is named by the caller).
bool RequestTimestamp(const std::wstring& url, std::span<const uint8_t> signatureValue, der::Bytes& token,
                      std::wstring& problem, DWORD timeoutMs = kTimestampTimeoutMs);

}  // namespace signing
