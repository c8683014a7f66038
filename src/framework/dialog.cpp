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
    self->reflectTargets_.clear();
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

bool Dialog::Reflect(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
  HWND child = nullptr;
  if (message == WM_COMMAND || (message >= WM_CTLCOLORMSGBOX && message <= WM_CTLCOLORSTATIC)) {
    child = reinterpret_cast<HWND>(lParam);
  } else if (message == WM_NOTIFY) {
    child = reinterpret_cast<const NMHDR*>(lParam)->hwndFrom;
  }
  if (child == nullptr) {
    return false;
  }
  for (const auto& [registered, target] : reflectTargets_) {
    if (registered != child) {
      continue;
    }
    LRESULT answer = 0;
    if (!target->OnReflected(message, wParam, lParam, answer)) {
      return false;
    }
    if (message == WM_COMMAND || message == WM_NOTIFY) {
      SetMessageResult(answer);
      result = TRUE;
    } else {
      result = static_cast<INT_PTR>(answer);
    }
    return true;
  }
  return false;
}

void Dialog::AddReflectTarget(HWND child, ReflectTarget& target) {
  for (auto& [registered, existing] : reflectTargets_) {
    if (registered == child) {
      existing = &target;
      return;
    }
  }
  reflectTargets_.emplace_back(child, &target);
}

void Dialog::RemoveReflectTarget(const ReflectTarget& target) {
  std::erase_if(reflectTargets_, [&](const auto& entry) { return entry.second == &target; });
}

INT_PTR Dialog::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    return OnInitDialog();
  }
  if (INT_PTR reflected = FALSE; Reflect(message, wParam, lParam, reflected)) {
    return reflected;
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

void Dialog::Show(int id, bool visible) const { ::ShowWindow(Item(id), visible ? SW_SHOW : SW_HIDE); }

void Dialog::ShowAll(std::span<const int> ids, bool visible) const {
  for (const int id : ids) {
    Show(id, visible);
  }
}

bool Dialog::IsShown(int id) const { return (::GetWindowLongW(Item(id), GWL_STYLE) & WS_VISIBLE) != 0; }

void Dialog::Enable(int id, bool enabled) const { ::EnableWindow(Item(id), enabled ? TRUE : FALSE); }

bool Dialog::IsEnabled(int id) const { return ::IsWindowEnabled(Item(id)) != FALSE; }

bool Dialog::IsChecked(int id) const { return ::IsDlgButtonChecked(hwnd_, id) == BST_CHECKED; }

void Dialog::SetCheck(int id, bool checked) const {
  ::CheckDlgButton(hwnd_, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

int Dialog::Selection(int id) const { return static_cast<int>(::SendMessageW(Item(id), CB_GETCURSEL, 0, 0)); }

void Dialog::Select(int id, int index) const {
  ::SendMessageW(Item(id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
}

void Dialog::SetText(int id, const wchar_t* text) const { ::SetDlgItemTextW(hwnd_, id, text); }

std::wstring Dialog::Text(int id) const {
  HWND control = Item(id);
  const int length = ::GetWindowTextLengthW(control);
  std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
  const int copied = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

void Dialog::SetMessageResult(LRESULT result) const { ::SetWindowLongPtrW(hwnd_, DWLP_MSGRESULT, result); }

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
