#include "app/folder_browse.h"

#include <commctrl.h>
#include <shlobj.h>

#include <memory>

#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kBrowseTag[] = L"OnBnClickedBtnBrowse";
constexpr wchar_t kCallbackTag[] = L"BrowseCallbackProc";
constexpr UINT kBrowseFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;

// The shell's allocator, released on every path.
struct MallocRelease {
  void operator()(IMalloc* allocator) const { allocator->Release(); }
};

}  // namespace

bool BrowseForFolder(HWND owner, wchar_t (&folder)[MAX_PATH]) {
  TraceLog(tracelog::kLevelProgress, kBrowseTag, L"called");
  folder[0] = L'\0';
  IMalloc* rawAllocator = nullptr;
  bool chosen = false;
  if (SUCCEEDED(::SHGetMalloc(&rawAllocator)) && rawAllocator != nullptr) {
    const std::unique_ptr<IMalloc, MallocRelease> allocator(rawAllocator);
    wchar_t title[MAX_PATH];
    LoadUiText(uitext::kBrowseFolderTitle, title);
    BROWSEINFOW info{};
    info.hwndOwner = owner;
    info.lpszTitle = title;
    info.ulFlags = kBrowseFlags;
    info.lpfn = &BrowseCallbackProc;
    if (PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&info)) {
      chosen = true;
      if (!::SHGetPathFromIDListW(item, folder)) {
        folder[0] = L'\0';
      }
      allocator->Free(item);
    }
  }
  TraceLog(tracelog::kLevelProgress, kBrowseTag, L"success");
  return chosen;
}

int CALLBACK BrowseCallbackProc(HWND browser, UINT message, LPARAM parameter, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kCallbackTag, L"called");
  if (message == BFFM_INITIALIZED) {
    wchar_t okText[MAX_PATH];
    wchar_t cancelText[MAX_PATH];
    LoadUiText(uitext::kBtnOk, okText);
    LoadUiText(uitext::kBtnCancel, cancelText);
    if (HWND ok = ::GetDlgItem(browser, IDOK)) {
      ::SetWindowTextW(ok, okText);
    }
    if (HWND cancel = ::GetDlgItem(browser, IDCANCEL)) {
      ::SetWindowTextW(cancel, cancelText);
    }
    if (HWND tree = ::FindWindowExW(browser, nullptr, WC_TREEVIEWW, nullptr)) {
      if (HTREEITEM root = TreeView_GetRoot(tree)) {
        TreeView_SelectItem(tree, root);
      }
    }
  } else if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH];
    if (::SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(parameter), path)) {
      ::SendMessageW(browser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(path));
    }
  }
  TraceLog(tracelog::kLevelProgress, kCallbackTag, L"success");
  return 0;
}
