#include "support/temp_dir.h"

#include <fstream>
#include <iterator>

#include "handles/handles.h"

namespace testsupport {

TempDir::TempDir() {
  wchar_t base[MAX_PATH];
  ::GetTempPathW(MAX_PATH, base);
  static unsigned counter = 0;
  for (;;) {
    path_ = std::wstring(base) + L"cpt" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
            std::to_wstring(++counter);
    if (::CreateDirectoryW(path_.c_str(), nullptr)) {
      break;
    }
  }
}

TempDir::~TempDir() {
  // A process cannot remove the folder it stands in (the pack step moves the current folder
  // into the server's packer folder, perhaps by its short form): step out of it first.
  wchar_t current[MAX_PATH] = L"", longCurrent[MAX_PATH] = L"";
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, current);
  const DWORD longLength =
      length > 0 && length < MAX_PATH ? ::GetLongPathNameW(current, longCurrent, MAX_PATH) : 0;
  if (longLength >= path_.size() && longLength < MAX_PATH &&
      ::CompareStringOrdinal(longCurrent, static_cast<int>(path_.size()), path_.c_str(),
                             static_cast<int>(path_.size()), TRUE) == CSTR_EQUAL &&
      (longLength == path_.size() || longCurrent[path_.size()] == L'\\')) {
    ::SetCurrentDirectoryW(path_.substr(0, path_.find_last_of(L'\\') + 1).c_str());
  }
  RemoveTree(path_);
}

void RemoveTree(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  HANDLE find = ::FindFirstFileW((path + L"\\*").c_str(), &data);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") {
        continue;
      }
      const std::wstring child = path + L"\\" + name;
      ::SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveTree(child);
      } else {
        ::DeleteFileW(child.c_str());
      }
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
  }
  ::RemoveDirectoryW(path.c_str());
}

namespace {

void AddToSnapshot(const std::wstring& folder, const std::wstring& relative,
                   std::map<std::wstring, std::string>* snapshot) {
  WIN32_FIND_DATAW data;
  const fw::UniqueFind find(::FindFirstFileW((folder + L"\\*").c_str(), &data));
  if (!find) {
    return;
  }
  do {
    const std::wstring name = data.cFileName;
    if (name == L"." || name == L"..") {
      continue;
    }
    const std::wstring path = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*snapshot)[path] = "<folder>";
      AddToSnapshot(folder + L"\\" + name, path, snapshot);
    } else {
      (*snapshot)[path] = ReadBytes(folder + L"\\" + name);
    }
  } while (::FindNextFileW(find.get(), &data));
}

}  // namespace

std::map<std::wstring, std::string> TreeSnapshot(const std::wstring& folder) {
  std::map<std::wstring, std::string> snapshot;
  AddToSnapshot(folder, L"", &snapshot);
  return snapshot;
}

std::wstring TreeDifferences(const std::map<std::wstring, std::string>& before,
                             const std::map<std::wstring, std::string>& after) {
  std::wstring differences;
  for (const auto& [path, bytes] : before) {
    const auto found = after.find(path);
    if (found == after.end()) {
      differences += L"gone: " + path + L"\n";
    } else if (found->second != bytes) {
      differences += L"changed: " + path + L"\n";
    }
  }
  for (const auto& [path, bytes] : after) {
    if (!before.contains(path)) {
      differences += L"added: " + path + L"\n";
    }
  }
  return differences;
}

std::string ReadBytes(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::wstring ReadUtf16(const std::wstring& path) { return DecodeUtf16(ReadBytes(path)); }

std::wstring DecodeUtf16(const std::string& bytes) {
  std::wstring text(bytes.size() / 2, L'\0');
  for (size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                   (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  }
  return text;
}

bool WriteBytes(const std::wstring& path, const std::string& bytes) {
  std::ofstream out(path.c_str(), std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool FileExists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace testsupport
