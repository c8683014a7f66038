// msi_bench WORK_FOLDER TEMPLATE [ROUNDS]: WORK_FOLDER holds payload files and the pkgplan.ini
// that names them. Times AddBinaryFilesToMsi into a copy of TEMPLATE against a bare loop of the
// same Windows Installer calls on the same files into another copy (open the database, per
// file: view, record, stream, execute, close, table check, commit), best of ROUNDS (default 5)
// each, and prints key=value lines for bench/msi_bench.sh.

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "build/msi_builder.h"
#include "build/msi_handle.h"
#include "log/trace_log.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to) {
  LARGE_INTEGER frequency;
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class SilentPrompt final : public IBuildUi {
 public:
  void Show(const BuildMessage& message) override {
    fwprintf(stderr, L"shown: %ls\n", message.Format().c_str());
  }
  bool Ask(BuildQuestion) override { return false; }
  PasswordAnswer AskPassword(passwordfile::Password&) override { return PasswordAnswer::kNotShown; }
};

// The plan's entries, read once up front so that the bare loop does no INI reading.
std::vector<std::wstring> PlanEntries(const std::wstring& folder) {
  const std::wstring plan = folder + L"\\pkgplan.ini";
  std::vector<std::wstring> entries;
  const UINT count = ::GetPrivateProfileIntW(L"CLIENT_PACKAGE", L"FILE_COUNT", 0, plan.c_str());
  for (UINT i = 0; i < count; ++i) {
    wchar_t entry[MAX_PATH];
    ::GetPrivateProfileStringW(L"CLIENT_PACKAGE", std::to_wstring(i).c_str(), L"", entry, MAX_PATH,
                               plan.c_str());
    entries.push_back(entry);
  }
  return entries;
}

bool BareLoop(const std::wstring& folder, const std::wstring& database,
              const std::vector<std::wstring>& entries) {
  UniqueMsiHandle db;
  if (::MsiOpenDatabaseW(database.c_str(), MSIDBOPEN_TRANSACT, db.put()) != ERROR_SUCCESS) {
    return false;
  }
  for (const std::wstring& entry : entries) {
    UniqueMsiHandle view;
    UniqueMsiHandle record(::MsiCreateRecord(2));
    if (::MsiDatabaseOpenViewW(db.get(), L"INSERT INTO `Binary` (`Name`, `Data`) VALUES (?, ?)",
                               view.put()) != ERROR_SUCCESS ||
        ::MsiRecordSetStringW(record.get(), 1, entry.c_str()) != ERROR_SUCCESS ||
        ::MsiRecordSetStreamW(record.get(), 2, (folder + L"\\" + entry).c_str()) != ERROR_SUCCESS ||
        ::MsiViewExecute(view.get(), record.get()) != ERROR_SUCCESS) {
      return false;
    }
    ::MsiViewClose(view.get());
    ::MsiDatabaseIsTablePersistentW(db.get(), L"Binary");
    if (::MsiDatabaseCommit(db.get()) != ERROR_SUCCESS) {
      return false;
    }
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) {
    fwprintf(stderr, L"usage: msi_bench WORK_FOLDER TEMPLATE [ROUNDS]\n");
    return 2;
  }
  const std::wstring folder = argv[1];
  const std::wstring templatePath = argv[2];
  const int rounds = argc > 3 ? _wtoi(argv[3]) : 5;
  tracelog::GetSettings().enabled = false;
  const std::vector<std::wstring> entries = PlanEntries(folder);
  SilentPrompt prompt;
  double ours = 1e30;
  double bare = 1e30;
  for (int round = 0; round < rounds; ++round) {
    const std::wstring a = folder + L"\\ours.msi";
    const std::wstring b = folder + L"\\bare.msi";
    if (!::CopyFileW(templatePath.c_str(), a.c_str(), FALSE) ||
        !::CopyFileW(templatePath.c_str(), b.c_str(), FALSE)) {
      fwprintf(stderr, L"cannot copy the template\n");
      return 1;
    }
    LARGE_INTEGER t0, t1, t2;
    ::QueryPerformanceCounter(&t0);
    const bool ok = AddBinaryFilesToMsi(folder.c_str(), L"ours.msi", prompt);
    ::QueryPerformanceCounter(&t1);
    const bool bareOk = BareLoop(folder, b, entries);
    ::QueryPerformanceCounter(&t2);
    if (!ok || !bareOk) {
      fwprintf(stderr, L"an insertion failed (ours %d, bare %d)\n", ok, bareOk);
      return 1;
    }
    ours = std::min(ours, Seconds(t0, t1));
    bare = std::min(bare, Seconds(t1, t2));
  }
  wprintf(L"files=%u\nours_seconds=%.6f\nbare_seconds=%.6f\n", static_cast<unsigned>(entries.size()), ours,
          bare);
  return 0;
}
