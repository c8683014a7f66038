#pragma once
// A fresh folder under the system temporary folder, removed with its contents afterwards.

#include <windows.h>

#include <map>
#include <string>

namespace testsupport {

class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();

  // Folder path without a trailing backslash.
  const std::wstring& path() const { return path_; }
  std::wstring operator/(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Whole-file helpers for checking what the code under test wrote.
std::string ReadBytes(const std::wstring& path);
std::wstring ReadUtf16(const std::wstring& path);  // no byte-order mark handling
// UTF-16LE bytes as text, a byte-order mark kept as U+FEFF; an odd last byte is dropped.
std::wstring DecodeUtf16(const std::string& bytes);
bool WriteBytes(const std::wstring& path, const std::string& bytes);
bool FileExists(const std::wstring& path);
void RemoveTree(const std::wstring& path);
// Every folder and file below `folder`, by its path relative to `folder`: a folder as "<folder>",
// a file as its bytes. Two equal snapshots prove that nothing in the tree was added, removed or
// changed in between. A file that cannot be read gives empty bytes.
std::map<std::wstring, std::string> TreeSnapshot(const std::wstring& folder);
// What tells two snapshots apart, a line per path ("changed: ", "gone: ", "added: " and the path);
// empty when they are equal.
std::wstring TreeDifferences(const std::map<std::wstring, std::string>& before,
                             const std::map<std::wstring, std::string>& after);

}  // namespace testsupport
