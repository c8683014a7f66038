// signing_bench SETUP PFX PASSWORD_VARIABLE ROUNDS: signs fresh copies of the setup SETUP with the
// certificate of the PFX file (its password in the environment variable) and takes the signed
// file's SHA-256, as a signed build does after packing, against one BCrypt SHA-256 pass over the
// unsigned setup. Reads 1 MiB at a time, as the installer hash does. Best of ROUNDS each. Prints
// key=value lines for bench/signing_bench.sh, which counts the passes over the signed copy
// (SETUP.signed) from the reads the system saw.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_support.h"
#include "build/installer_hash.h"
#include "handles/handles.h"
#include "signing/certificate.h"
#include "signing/hasher.h"
#include "signing/signed_file.h"

namespace {

double Elapsed(LARGE_INTEGER from) {
  LARGE_INTEGER to;
  ::QueryPerformanceCounter(&to);
  return bench::Seconds(from, to);
}

// One SHA-256 pass over the file in 1 MiB reads; false when it cannot be read.
bool HashPass(const std::wstring& path) {
  const fw::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  signing::Hasher hasher(BCRYPT_SHA256_ALGORITHM);
  std::vector<uint8_t> buffer(1 << 20);
  DWORD got = 0;
  while (file && ::ReadFile(file.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr) &&
         got != 0) {
    hasher.Add({buffer.data(), got});
  }
  return file && hasher.Finish().size() == 32;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    fwprintf(stderr, L"usage: signing_bench SETUP PFX PASSWORD_VARIABLE ROUNDS\n");
    return 2;
  }
  const std::wstring setup = argv[1];
  const int rounds = std::max(1, _wtoi(argv[4]));
  wchar_t password[1024] = L"";
  ::GetEnvironmentVariableW(argv[3], password, static_cast<DWORD>(std::size(password)));
  std::unique_ptr<signing::SigningCertificate> signer;
  const signing::CertificateCheck check = signing::SelectFromPfx(argv[2], password, signer);
  SecureZeroMemory(password, sizeof password);
  if (check != signing::CertificateCheck::kOk) {
    fwprintf(stderr, L"the PFX is refused: %ls\n", signing::CertificateCheckName(check));
    return 1;
  }
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(setup.c_str(), GetFileExInfoStandard, &data)) {
    fwprintf(stderr, L"cannot read %ls\n", setup.c_str());
    return 1;
  }
  const double size =
      static_cast<double>((static_cast<ULONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  const std::wstring copy = setup + L".signed";

  double hashSeconds = 1e30, signSeconds = 1e30, signAndHashSeconds = 1e30;
  for (int round = 0; round < rounds; ++round) {
    LARGE_INTEGER start;
    ::QueryPerformanceCounter(&start);
    if (!HashPass(setup)) {
      fwprintf(stderr, L"cannot hash %ls\n", setup.c_str());
      return 1;
    }
    hashSeconds = std::min(hashSeconds, Elapsed(start));

    if (!::CopyFileW(setup.c_str(), copy.c_str(), FALSE)) {
      fwprintf(stderr, L"cannot copy %ls\n", setup.c_str());
      return 1;
    }
    ::QueryPerformanceCounter(&start);
    DWORD error = 0;
    if (signing::SignFile(copy, *signer, error) != signing::SignResult::kSigned) {
      fwprintf(stderr, L"signing failed (error 0x%08lX)\n", static_cast<unsigned long>(error));
      return 1;
    }
    const double signedAfter = Elapsed(start);
    std::wstring hex;
    if (!HashFileSha256(copy.c_str(), hex)) {
      fwprintf(stderr, L"cannot hash the signed copy\n");
      return 1;
    }
    const double total = Elapsed(start);
    signSeconds = std::min(signSeconds, signedAfter);
    signAndHashSeconds = std::min(signAndHashSeconds, total);
  }
  ::DeleteFileW(copy.c_str());
  wprintf(L"bytes=%.0f\nhash_seconds=%.4f\nsign_seconds=%.4f\nsign_and_hash_seconds=%.4f\n", size,
          hashSeconds, signSeconds, signAndHashSeconds);
  return 0;
}
