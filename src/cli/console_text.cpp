#include "cli/console_text.h"

#include "uitext/ui_text.h"

namespace cli {
namespace {

void Write(DWORD which, const std::wstring& text) {
  HANDLE handle = ::GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    return;
  }
  DWORD mode = 0;
  DWORD written = 0;
  if (::GetConsoleMode(handle, &mode)) {
    ::WriteConsoleW(handle, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = ToUtf8(text);
  ::WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr,
                        nullptr);
  return bytes;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(size), L'\0');
  ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

void WriteOut(const std::wstring& text) { Write(STD_OUTPUT_HANDLE, text); }
void WriteErr(const std::wstring& text) { Write(STD_ERROR_HANDLE, text); }

void WriteUsageError(const wchar_t* command, const std::wstring& error) {
  WriteErr(L"tmrovane " + std::wstring(command) + L": " + error + L" (see: tmrovane --help)\n");
}

std::wstring MessageLine(UINT id, const std::wstring& text) {
  std::wstring line;
  if (id != uitext::kOwnText) {
    line = std::to_wstring(id) + L": ";
  }
  for (const wchar_t c : text) {
    if (c == L'\r') {
      continue;
    }
    line += c == L'\n' ? L' ' : c;
  }
  return line;
}

void WriteMessage(const UiText& text) {
  wchar_t loaded[1024];
  LoadUiText(text, loaded);
  WriteErr(MessageLine(text.id, loaded) + L"\n");
}

}  // namespace cli
