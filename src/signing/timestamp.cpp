#include "signing/timestamp.h"

#include <windows.h>
// After windows.h: these rely on its types.
#include <bcrypt.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <cwchar>

#include "handles/handles.h"
#include "log/trace_log.h"
#include "signing/certificate.h"
#include "signing/hasher.h"
#include "signing/pkcs7.h"

namespace signing {

namespace {

constexpr wchar_t kTag[] = L"RequestTimestamp";
constexpr char kTstInfoOid[] = "1.2.840.113549.1.9.16.1.4";
constexpr uint8_t kGeneralizedTime = 0x18;
constexpr uint8_t kBoolean = 0x01;
// No authority's answer comes near it; a longer one is not read.
constexpr size_t kMaxResponse = 1 << 20;

struct InternetTraits {
  using Type = HINTERNET;
  static Type Invalid() noexcept { return nullptr; }
  static bool IsValid(Type h) noexcept { return h != nullptr; }
  static bool Close(Type h) noexcept { return ::WinHttpCloseHandle(h) != FALSE; }
};
using UniqueInternet = fw::UniqueHandle<InternetTraits>;

std::wstring Code(DWORD error) {
  wchar_t text[32];
  std::swprintf(text, std::size(text), L"error %lu", static_cast<unsigned long>(error));
  return text;
}

// What a failed WinHTTP call means to an administrator.
std::wstring HttpProblem(const wchar_t* step) {
  const DWORD error = ::GetLastError();
  switch (error) {
    case ERROR_WINHTTP_TIMEOUT:
    case WSAETIMEDOUT:  // what Wine reports for a receive timeout
      return L"no answer in time";
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
      return L"cannot connect (" + Code(error) + L")";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return L"the host name is not known (" + Code(error) + L")";
    default:
      return std::wstring(step) + L" failed (" + Code(error) + L")";
  }
}

// A positive INTEGER's content of 8 random bytes, minimally encoded.
bool RandomNonce(std::vector<uint8_t>& nonce) {
  nonce.assign(8, 0);
  if (!BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, nonce.data(), static_cast<ULONG>(nonce.size()),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
    return false;
  }
  nonce[0] = static_cast<uint8_t>((nonce[0] & 0x3F) | 0x40);
  return true;
}

// "YYYYMMDDhhmmss[.f]Z" as "YYYY-MM-DD hh:mm:ss UTC"; empty for anything else.
std::wstring TimeText(std::span<const uint8_t> text) {
  if (text.size() < 15 || text.back() != 'Z' ||
      !std::all_of(text.begin(), text.begin() + 14, [](uint8_t c) { return c >= '0' && c <= '9'; })) {
    return {};
  }
  const auto part = [&](size_t from, size_t length) {
    return std::wstring(text.begin() + from, text.begin() + from + length);
  };
  return part(0, 4) + L"-" + part(4, 2) + L"-" + part(6, 2) + L" " + part(8, 2) + L":" + part(10, 2) + L":" +
         part(12, 2) + L" UTC";
}

// POSTs `body` to `url`; the response body, or false with the problem.
bool Post(const std::wstring& url, const der::Bytes& body, DWORD timeoutMs, std::vector<uint8_t>& answer,
          std::wstring& problem) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwSchemeLength = parts.dwHostNameLength = parts.dwUrlPathLength = parts.dwExtraInfoLength =
      static_cast<DWORD>(-1);
  if (!::WinHttpCrackUrl(url.c_str(), 0, 0, &parts)) {
    problem = L"the URL cannot be read";
    return false;
  }
  const std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
  std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
  path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
  if (path.empty()) {
    path = L"/";
  }
  const UniqueInternet session(::WinHttpOpen(L"Client Packager", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                             WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0));
  if (!session) {
    problem = HttpProblem(L"WinHttpOpen");
    return false;
  }
  const int timeout = static_cast<int>(timeoutMs);
  ::WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, timeout);
  const UniqueInternet connection(::WinHttpConnect(session.get(), host.c_str(), parts.nPort, 0));
  const UniqueInternet request(
      connection ? ::WinHttpOpenRequest(connection.get(), L"POST", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES,
                                        parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0)
                 : nullptr);
  // Waiting for the answer's headers has a time limit of its own, unlimited by default.
  DWORD responseTimeout = timeoutMs;
  if (!request || !::WinHttpSetOption(request.get(), WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT,
                                      &responseTimeout, sizeof responseTimeout)) {
    problem = HttpProblem(L"WinHttpOpenRequest");
    return false;
  }
  static constexpr wchar_t kHeaders[] = L"Content-Type: application/timestamp-query\r\n";
  if (!::WinHttpSendRequest(request.get(), kHeaders, static_cast<DWORD>(-1L),
                            const_cast<uint8_t*>(body.data()), static_cast<DWORD>(body.size()),
                            static_cast<DWORD>(body.size()), 0) ||
      !::WinHttpReceiveResponse(request.get(), nullptr)) {
    problem = HttpProblem(L"the request");
    return false;
  }
  DWORD status = 0;
  DWORD length = sizeof status;
  if (!::WinHttpQueryHeaders(request.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &length, WINHTTP_NO_HEADER_INDEX)) {
    problem = HttpProblem(L"reading the answer");
    return false;
  }
  if (status != 200) {
    problem = L"HTTP status " + std::to_wstring(status);
    return false;
  }
  answer.clear();
  uint8_t buffer[8192];
  DWORD got = 0;
  do {
    if (!::WinHttpReadData(request.get(), buffer, sizeof buffer, &got)) {
      problem = HttpProblem(L"reading the answer");
      return false;
    }
    answer.insert(answer.end(), buffer, buffer + got);
    if (answer.size() > kMaxResponse) {
      problem = L"the answer is too long";
      return false;
    }
  } while (got != 0);
  return true;
}

}  // namespace

bool ParseTimestampToken(std::span<const uint8_t> token, TimestampToken& parsed) {
  parsed = {};
  SignedDataParts parts;
  if (!ParseSignedData(token, parts) || parts.contentType != kTstInfoOid) {
    return false;
  }
  std::span<const uint8_t> content = parts.content;
  der::Parsed octets, info, version, policy, imprint, algorithm, oid, hash, serial, time, element;
  if (!der::Expect(content, der::kOctetString, octets)) {
    return false;
  }
  std::span<const uint8_t> wrapped = octets.content;
  if (!der::Expect(wrapped, der::kSequence, info)) {
    return false;
  }
  std::span<const uint8_t> fields = info.content;
  if (!der::Expect(fields, der::kInteger, version) || !der::Expect(fields, der::kOid, policy) ||
      !der::Expect(fields, der::kSequence, imprint) || !der::Expect(fields, der::kInteger, serial) ||
      !der::Expect(fields, kGeneralizedTime, time)) {
    return false;
  }
  std::span<const uint8_t> imprintFields = imprint.content;
  if (!der::Expect(imprintFields, der::kSequence, algorithm) ||
      !der::Expect(imprintFields, der::kOctetString, hash)) {
    return false;
  }
  std::span<const uint8_t> algorithmFields = algorithm.content;
  if (!der::Expect(algorithmFields, der::kOid, oid)) {
    return false;
  }
  parsed.imprintAlgorithm = OidText(oid.content);
  parsed.imprint = hash.content;
  parsed.time = TimeText(time.content);
  // Accuracy and ordering may come before the nonce.
  while (der::Next(fields, element)) {
    if (element.tag == der::kInteger) {
      parsed.nonce = element.content;
      break;
    }
    if (element.tag != der::kSequence && element.tag != kBoolean) {
      break;
    }
  }
  if (const fw::UniqueCertContext signer = FindSignerCertificate(parts)) {
    parsed.authority = NameText(signer.get()->pCertInfo->Subject);
  }
  return !parsed.time.empty();
}

bool IsTimestampUrl(const std::wstring& url) {
  URL_COMPONENTS parts{};
  parts.dwStructSize = sizeof parts;
  parts.dwHostNameLength = static_cast<DWORD>(-1);
  return ::WinHttpCrackUrl(url.c_str(), 0, 0, &parts) && parts.dwHostNameLength != 0 &&
         (parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS);
}

bool RequestTimestamp(const std::wstring& url, std::span<const uint8_t> signatureValue, der::Bytes& token,
                      std::wstring& problem, DWORD timeoutMs) {
  token.clear();
  const std::vector<uint8_t> imprint = Sha256(signatureValue);
  std::vector<uint8_t> nonce;
  if (imprint.empty() || !RandomNonce(nonce)) {
    problem = L"the request cannot be made";
    return false;
  }
  const der::Bytes request = der::Sequence({
      der::SmallInteger(1),
      der::Sequence({der::Algorithm(kSha256Oid), der::OctetString(imprint)}),
      der::Element(der::kInteger, nonce),
      der::Bytes{kBoolean, 1, 0xFF},
  });
  std::vector<uint8_t> answer;
  if (!Post(url, request, timeoutMs, answer, problem)) {
    TraceLog(1, kTag, L"%s: %s", url.c_str(), problem.c_str());
    return false;
  }
  // TimeStampResp: the status, then the token when one is granted.
  std::span<const uint8_t> rest = answer;
  der::Parsed response, statusInfo, status, tokenElement;
  if (!der::Expect(rest, der::kSequence, response)) {
    problem = L"the answer is no timestamp response";
    return false;
  }
  std::span<const uint8_t> fields = response.content;
  if (!der::Expect(fields, der::kSequence, statusInfo)) {
    problem = L"the answer is no timestamp response";
    return false;
  }
  std::span<const uint8_t> statusFields = statusInfo.content;
  if (!der::Expect(statusFields, der::kInteger, status) || status.content.size() != 1) {
    problem = L"the answer is no timestamp response";
    return false;
  }
  if (status.content[0] > 1) {
    problem = L"the request was refused (status " + std::to_wstring(status.content[0]) + L")";
    return false;
  }
  TimestampToken parsed;
  if (!der::Expect(fields, der::kSequence, tokenElement) ||
      !ParseTimestampToken(tokenElement.whole, parsed)) {
    problem = L"the answer holds no timestamp token that can be read";
    return false;
  }
  if (!std::equal(parsed.nonce.begin(), parsed.nonce.end(), nonce.begin(), nonce.end())) {
    problem = L"the token's nonce is not the request's";
    return false;
  }
  if (parsed.imprintAlgorithm != kSha256Oid ||
      !std::equal(parsed.imprint.begin(), parsed.imprint.end(), imprint.begin(), imprint.end())) {
    problem = L"the token stamps another hash than the signature's";
    return false;
  }
  token.assign(tokenElement.whole.begin(), tokenElement.whole.end());
  TraceLog(2, kTag, L"%s stamped the signature at %s", url.c_str(), parsed.time.c_str());
  return true;
}

}  // namespace signing
