#pragma once
// Thin dialog framework: a dialog object bound to a resource template, whose messages are
// dispatched through a static table from (message, control ID, notification) to a member.
//
// Messages a child control sends its dialog about itself (WM_COMMAND, WM_NOTIFY and the
// WM_CTLCOLOR* family) are first offered to the reflect target registered for that child, so
// that a control class handles its own notifications without subclassing the dialog.

#include <windows.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

namespace fw {

// A control object that handles what its control reports to the dialog.
class ReflectTarget {
 public:
  // `message` as the dialog received it. Returns true when handled; `result` is then the
  // answer: the brush for WM_CTLCOLOR*, the message result otherwise.
  virtual bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) = 0;

 protected:
  ~ReflectTarget() = default;
};

// Where a fixed layout puts one control, in pixels of the dialog's client area.
struct ControlPlacement {
  int id;
  int x;
  int y;
  int width;
  int height;
};

class Dialog {
 public:
  using Handler = INT_PTR (Dialog::*)(WPARAM, LPARAM);

  // One row of a message map. For WM_COMMAND the ID and code come from wParam; for WM_NOTIFY
  // from the NMHDR; for every other message both must be zero.
  struct MapEntry {
    UINT message;
    UINT id;
    UINT code;
    Handler handler;
  };

  Dialog(HINSTANCE instance, UINT templateId) : instance_(instance), templateId_(templateId) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  virtual ~Dialog();

  // Runs the dialog modally; returns the value passed to EndDialog, or -1 when it could not open.
  INT_PTR DoModal(HWND parent);
  // Creates the dialog modelessly; the caller's message loop must route messages through
  // IsDialogMessage. Returns false when it could not be created.
  bool Create(HWND parent);
  // Ends a modal dialog with the result, or destroys a modeless one.
  void EndDialog(INT_PTR result);

  HWND hwnd() const { return hwnd_; }
  // The control with this ID; not owned (it goes with the dialog).
  HWND Item(int id) const { return ::GetDlgItem(hwnd_, id); }

  // Control helpers by control ID.
  void Show(int id, bool visible) const;
  void ShowAll(std::span<const int> ids, bool visible) const;
  // The control's own visible style: what Show set, also while the dialog itself is hidden.
  bool IsShown(int id) const;
  void Enable(int id, bool enabled) const;
  bool IsEnabled(int id) const;
  bool IsChecked(int id) const;
  void SetCheck(int id, bool checked) const;
  // A combo box's selected index; CB_ERR when none.
  int Selection(int id) const;
  void Select(int id, int index) const;
  void SetText(int id, const wchar_t* text) const;
  std::wstring Text(int id) const;
  // The answer to the message being handled, for notifications that read it from the dialog
  // (DWLP_MSGRESULT) rather than from the procedure's return value.
  void SetMessageResult(LRESULT result) const;

  // Offers what `child` reports to this dialog to `target` before the message map; one target
  // per child, a later one replacing it. The target stays registered until it is removed or the
  // dialog's window is destroyed.
  void AddReflectTarget(HWND child, ReflectTarget& target);
  // Removes every registration of `target`.
  void RemoveReflectTarget(const ReflectTarget& target);

  // Places the controls as listed, each after the one before it in window (tab) order, the first
  // at the top, and sizes the dialog to `width` and a client area `clientHeight` high below its
  // caption.
  void PlaceControls(std::span<const ControlPlacement> layout, int width, int clientHeight) const;
  HINSTANCE instance() const { return instance_; }

  // Converts a member of a derived dialog into a map handler.
  template <typename Derived>
  static constexpr Handler Bind(INT_PTR (Derived::*member)(WPARAM, LPARAM)) {
    return static_cast<Handler>(member);
  }

 protected:
  virtual std::span<const MapEntry> MessageMap() const { return {}; }
  // Called on WM_INITDIALOG; returns TRUE to let the system set the focus.
  virtual BOOL OnInitDialog() { return TRUE; }
  // IDOK and IDCANCEL commands that no map entry handles.
  virtual void OnOK() { EndDialog(IDOK); }
  virtual void OnCancel() { EndDialog(IDCANCEL); }
  // Called last for a window that is being destroyed.
  virtual void OnDestroyed() {}
  // Sees every message of a modal dialog's loop before it is translated and dispatched
  // (keyboard and mouse messages of the dialog and its controls); true swallows the message.
  virtual bool PreTranslateMessage(MSG& /*message*/) { return false; }

 private:
  static LRESULT CALLBACK MessageFilterProc(int code, WPARAM wParam, LPARAM lParam);
  static INT_PTR CALLBACK StaticProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
  // Offers a child's message to its reflect target; true when the target handled it.
  bool Reflect(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result);
  const MapEntry* Find(UINT message, WPARAM wParam, LPARAM lParam) const;

  HINSTANCE instance_;  // the module holding the template: not owned
  UINT templateId_;
  // The dialog's window: a modeless one is destroyed with this object, a modal one by its loop.
  HWND hwnd_ = nullptr;
  bool modal_ = false;
  // Children with a reflect target; neither side is owned.
  std::vector<std::pair<HWND, ReflectTarget*>> reflectTargets_;
};

}  // namespace fw
