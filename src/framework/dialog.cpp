#include "framework/dialog.h"

#include <memory>
#include <type_traits>
#include <utility>

#include "log/trace_log.h"

namespace fw {

namespace {
constexpr wchar_t kThisProperty[] = L"fw.Dialog";

// The innermost modal dialog of this thread, for the message filter hook.
thread_local Dialog* t_activeModal = nullptr;

struct HookRelease {
  void operator()(HHOOK hook) const { ::UnhookWindowsHookEx(hook); }
};
}  // namespace

Dialog::~Dialog() {
  if (hwnd_ != nullptr && !modal_) {
    ::DestroyWindow(hwnd_);
  }
}

INT_PTR Dialog::DoModal(HWND parent) {
  modal_ = true;
  Dialog* const outer = std::exchange(t_activeModal, this);
  const std::unique_ptr<std::remove_pointer_t<HHOOK>, HookRelease> hook(
      ::SetWindowsHookExW(WH_MSGFILTER, &Dialog::MessageFilterProc, nullptr, ::GetCurrentThreadId()));
  const INT_PTR result = ::DialogBoxParamW(instance_, MAKEINTRESOURCEW(templateId_), parent,
                                           &Dialog::StaticProc, reinterpret_cast<LPARAM>(this));
  t_activeModal = outer;
  return result;
}

LRESULT CALLBACK Dialog::MessageFilterProc(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && t_activeModal != nullptr && t_activeModal->hwnd_ != nullptr) {
    MSG& message = *reinterpret_cast<MSG*>(lParam);
    const HWND dialog = t_activeModal->hwnd_;
    if (message.hwnd == dialog || ::IsChild(dialog, message.hwnd)) {
      try {
        if (t_activeModal->PreTranslateMessage(message)) {
          return TRUE;
        }
      } catch (...) {
        TraceLog(tracelog::kLevelError, L"Dialog::MessageFilterProc", L"unexpected exception");
      }
    }
  }
  return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

bool Dialog::Create(HWND parent) {
  modal_ = false;
  return ::CreateDialogParamW(instance_, MAKEINTRESOURCEW(templateId_), parent, &Dialog::StaticProc,
                              reinterpret_cast<LPARAM>(this)) != nullptr;
}

void Dialog::EndDialog(INT_PTR result) {
  if (hwnd_ == nullptr) {
    return;
  }
  if (modal_) {
    ::EndDialog(hwnd_, result);
  } else {
    ::DestroyWindow(hwnd_);
  }
}

INT_PTR CALLBACK Dialog::StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  Dialog* self = nullptr;
  if (message == WM_INITDIALOG) {
    self = reinterpret_cast<Dialog*>(lParam);
    self->hwnd_ = hwnd;
    ::SetPropW(hwnd, kThisProperty, self);
  } else {
    self = static_cast<Dialog*>(::GetPropW(hwnd, kThisProperty));
  }
  if (self == nullptr) {
    return FALSE;  // messages before WM_INITDIALOG
  }
  INT_PTR result = FALSE;
  try {
    result = self->Dispatch(message, wParam, lParam);
  } catch (...) {
    // No exception may unwind through the window manager.
    TraceLog(tracelog::kLevelError, L"Dialog::StaticProc", L"unexpected exception in message 0x%04X",
             message);
    result = FALSE;
  }
  if (message == WM_NCDESTROY) {
    ::RemovePropW(hwnd, kThisProperty);
    self->hwnd_ = nullptr;
    self->OnDestroyed();
  }
  return result;
}

const Dialog::MapEntry* Dialog::Find(UINT message, WPARAM wParam, LPARAM lParam) const {
  UINT id = 0;
  UINT code = 0;
  if (message == WM_COMMAND) {
    id = LOWORD(wParam);
    code = HIWORD(wParam);
  } else if (message == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lParam);
    id = static_cast<UINT>(header->idFrom);
    code = header->code;
  }
  for (const MapEntry& entry : MessageMap()) {
    if (entry.message == message && entry.id == id && entry.code == code) {
      return &entry;
    }
  }
  return nullptr;
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    return OnInitDialog();
  }
  if (const MapEntry* entry = Find(message, wParam, lParam)) {
    return (this->*(entry->handler))(wParam, lParam);
  }
  if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
    if (LOWORD(wParam) == IDOK) {
      OnOK();
      return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
      OnCancel();
      return TRUE;
    }
  }
  return FALSE;
}

void Dialog::PlaceControls(std::span<const ControlPlacement> layout, int width, int clientHeight) const {
  HWND previous = HWND_TOP;
  for (const ControlPlacement& place : layout) {
    HWND control = Item(place.id);
    ::SetWindowPos(control, previous, place.x, place.y, place.width, place.height, SWP_NOACTIVATE);
    previous = control;
  }
  ::SetWindowPos(hwnd_, nullptr, 0, 0, width, clientHeight + ::GetSystemMetrics(SM_CYCAPTION),
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace fw
