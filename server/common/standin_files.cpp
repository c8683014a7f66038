#include "common/standin_files.h"

#include <algorithm>
#include <cwctype>

#include "handles/handles.h"

namespace standin {

bool ModuleFolder(HMODULE module, std::wstring* folder) {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return false;
  }
  std::wstring text(path, length);
  const size_t slash = text.find_last_of(L'\\');
  if (slash == std::wstring::npos) {
    return false;
  }
  *folder = text.substr(0, slash + 1);
  return true;
}

std::wstring BesideModule(HMODULE module, const std::wstring& name) {
  std::wstring folder;
  return ModuleFolder(module, &folder) ? folder + name : std::wstring();
}

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  fw::UniqueKernelHandle file(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.get(), &size) || size.QuadPart > 0x7FFFFFFF) {
    return false;
  }
  bytes->assign(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < bytes->size()) {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes->size() - done, 1u << 20));
    if (!::ReadFile(file.get(), bytes->data() + done, want, &read, nullptr) || read == 0) {
      return false;
    }
    done += read;
  }
  return true;
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  fw::UniqueKernelHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return false;
  }
  size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 20));
    if (!::WriteFile(file.get(), bytes.data() + done, want, &written, nullptr) || written != want) {
      return false;
    }
    done += written;
  }
  return true;
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string out(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr,
                          nullptr);
  }
  return out;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) {
    return {};
  }
  const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring out(static_cast<size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0) {
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
  }
  return out;
}

bool DecodeLines(const std::string& bytes, std::vector<std::wstring>* lines) {
  std::wstring text;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    if (bytes.size() % 2 != 0) {
      return false;
    }
    text.resize((bytes.size() - 2) / 2);
    for (size_t i = 0; i < text.size(); ++i) {
      text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                     (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
    }
  } else {
    const bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    text = FromUtf8(bom ? bytes.substr(3) : bytes);
  }
  lines->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find(L'\n', start);
    if (end == std::wstring::npos) {
      end = text.size();
    }
    std::wstring line = text.substr(start, end - start);
    if (!line.empty() && line.back() == L'\r') {
      line.pop_back();
    }
    lines->push_back(std::move(line));
    start = end + 1;
  }
  return true;
}

bool IsSwitchedToFail(const std::wstring& switchPath, const char* call) {
  std::string bytes;
  if (!ReadWholeFile(switchPath, &bytes)) {
    return false;
  }
  std::vector<std::wstring> lines;
  if (!DecodeLines(bytes, &lines)) {
    return false;
  }
  const std::wstring wanted = FromUtf8(call);
  for (const std::wstring& line : lines) {
    size_t pos = 0;
    while (pos < line.size()) {
      while (pos < line.size() && std::iswspace(line[pos])) {
        ++pos;
      }
      size_t end = pos;
      while (end < line.size() && !std::iswspace(line[end])) {
        ++end;
      }
      if (end > pos && line.compare(pos, end - pos, wanted) == 0) {
        return true;
      }
      pos = end;
    }
  }
  return false;
}

void AppendJournal(const std::wstring& journalPath, const std::string& line) {
  fw::UniqueKernelHandle file(::CreateFileW(journalPath.c_str(), FILE_APPEND_DATA,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                            FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return;
  }
  const std::string text = line + "\r\n";
  DWORD written = 0;
  ::WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
}

void JournalCall(const std::wstring& journalPath, const char* call, uint32_t status,
                 std::initializer_list<uint32_t> details) {
  try {
    std::string line = call;
    line += status == 0 ? " ok" : " fail " + std::to_string(status);
    for (uint32_t detail : details) {
      line += ' ';
      line += std::to_string(detail);
    }
    AppendJournal(journalPath, line);
  } catch (...) {
    // The journal is best effort; the call's result stands.
  }
}

uint8_t SuccessByte(HMODULE module) {
  const std::wstring path = BesideModule(module, kSuccessFFSwitchFile);
  return !path.empty() && ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES ? 0xFF : 1;
}

std::wstring VersionedName(const std::wstring& base, const std::wstring& version) {
  if (base.empty() || version.empty()) {
    return {};
  }
  return base + L"_" + version;
}

std::string JournalEscaped(const std::string& bytes) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte == '\\') {
      out += "\\\\";
    } else if (byte == '\r') {
      out += "\\r";
    } else if (byte == '\n') {
      out += "\\n";
    } else if (byte >= 0x20 && byte < 0x7F) {
      out += c;
    } else {
      out += "\\x";
      out += kHex[byte >> 4];
      out += kHex[byte & 15];
    }
  }
  return out;
}

std::string Fnv1a64Hex(const std::string& bytes) {
  uint64_t hash = 0xcbf29ce484222325ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 0x100000001b3ull;
  }
  static const char kHex[] = "0123456789abcdef";
  std::string out(16, '0');
  for (int i = 15; i >= 0; --i, hash >>= 4) {
    out[static_cast<size_t>(i)] = kHex[hash & 15];
  }
  return out;
}

}  // namespace standin
