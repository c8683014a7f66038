#include "program/program_folder.h"

#include <cwchar>

bool GetProgramFolder(wchar_t (&folder)[MAX_PATH]) {
  folder[0] = L'\0';
  const DWORD length = ::GetModuleFileNameW(nullptr, folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    folder[0] = L'\0';
    return false;
  }
  // In place; on failure the long form is kept, which names the same folder.
  const DWORD shortLength = ::GetShortPathNameW(folder, folder, MAX_PATH);
  if (shortLength >= MAX_PATH) {
    ::GetModuleFileNameW(nullptr, folder, MAX_PATH);
  }
  wchar_t* slash = wcsrchr(folder, L'\\');
  if (slash == nullptr) {
    folder[0] = L'\0';
    return false;
  }
  slash[1] = L'\0';
  return true;
}
