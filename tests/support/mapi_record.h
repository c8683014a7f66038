#pragma once
// The record of the test MAPI32.dll, which the test prefix holds in the system folder where the
// system's mail stub would be (see server/mapi32 and scripts/wine-env.sh): what it was handed,
// and its loads and unloads. Also chooses the result its MAPISendMail answers.
// The record and the result switch are cleared when the object is made and when it goes.

#include <windows.h>

#include <string>
#include <vector>

#include "common/standin_files.h"
#include "support/temp_dir.h"

namespace testsupport {

class MapiRecord {
 public:
  MapiRecord() { Clear(); }
  MapiRecord(const MapiRecord&) = delete;
  MapiRecord& operator=(const MapiRecord&) = delete;
  ~MapiRecord() { Clear(); }

  void Clear() const {
    ::DeleteFileW(Beside(L"mapi32.journal").c_str());
    ::DeleteFileW(Beside(L"mapi32.result").c_str());
  }

  // The result MAPISendMail answers from now on.
  bool SetResult(unsigned long result) const {
    return WriteBytes(Beside(L"mapi32.result"), std::to_string(result));
  }

  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    const std::string text = ReadBytes(Beside(L"mapi32.journal"));
    size_t start = 0;
    for (size_t end = text.find("\r\n"); end != std::string::npos; end = text.find("\r\n", start)) {
      lines.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    return lines;
  }

  // The whole record of one MAPISendMail call between the library's load and unload, as this
  // program hands every mail over: no counted recipient, one attachment.
  static std::vector<std::string> SentMail(const std::wstring& subject, const std::wstring& note,
                                           const std::wstring& path, const std::wstring& name,
                                           unsigned long result = 0) {
    return {"load",
            "MAPISendMail session=0 uiparam=0 flags=9 reserved=0",
            "subject=" + Escape(subject),
            "note=" + Escape(note),
            "type=(null)",
            "date=(null)",
            "conversation=(null)",
            "message_flags=0",
            "originator=null",
            "recipients=0",
            "files=1",
            "file_flags=2",
            "file_position=4294967295",
            "file_path=" + Escape(path),
            "file_name=" + Escape(name),
            "file_type=null",
            "result=" + std::to_string(result),
            "unload"};
  }

  // The narrow text the library records for `text` converted to the ANSI code page.
  static std::string Escape(const std::wstring& text) {
    std::string narrow(text.size() * 4 + 1, '\0');
    const int written = ::WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, narrow.data(),
                                              static_cast<int>(narrow.size()), nullptr, nullptr);
    narrow.resize(written > 0 ? static_cast<size_t>(written - 1) : 0);
    return standin::JournalEscaped(narrow);
  }

 private:
  // Beside the library in the system folder (for a 32-bit test, the system folder it sees).
  static std::wstring Beside(const wchar_t* name) {
    wchar_t folder[MAX_PATH] = L"";
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return std::wstring(folder, length < MAX_PATH ? length : 0) + L"\\" + name;
  }
};

// Keeps the mailto command of the test prefix (HKEY_CLASSES_ROOT) and puts it back when it goes.
class MailtoCommandBackup {
 public:
  static constexpr wchar_t kKey[] = L"mailto\\shell\\open\\command";

  MailtoCommandBackup() {
    DWORD bytes = sizeof(saved_);
    had_ =
        ::RegGetValueW(HKEY_CLASSES_ROOT, kKey, nullptr, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                       &type_, saved_, &bytes) == ERROR_SUCCESS;
    savedBytes_ = bytes;
  }
  MailtoCommandBackup(const MailtoCommandBackup&) = delete;
  MailtoCommandBackup& operator=(const MailtoCommandBackup&) = delete;
  ~MailtoCommandBackup() {
    Remove();
    if (had_) {
      ::RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr, type_, saved_, savedBytes_);
    }
  }

  bool had() const { return had_; }
  bool Remove() const { return ::RegDeleteTreeW(HKEY_CLASSES_ROOT, kKey) == ERROR_SUCCESS; }
  bool Set(const std::wstring& command) const {
    return ::RegSetKeyValueW(HKEY_CLASSES_ROOT, kKey, nullptr, REG_SZ, command.c_str(),
                             static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
  }

 private:
  bool had_ = false;
  DWORD type_ = REG_SZ;
  wchar_t saved_[1024] = {};
  DWORD savedBytes_ = 0;
};

}  // namespace testsupport
