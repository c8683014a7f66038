#pragma once
// A static text control turned into a link: link colour, underlined while the mouse is over it,
// hand cursor, and a click opens its target with the shell (then it shows the visited colour).
//
// The object attaches to an existing static control of a dialog by ID. It subclasses the
// control for its own messages and takes the two the control reports to its dialog
// (WM_CTLCOLORSTATIC and the STN_CLICKED notification) as the dialog's reflect target.

#include <windows.h>

#include <string>

#include "controls/dialog_font.h"
#include "framework/dialog.h"
#include "handles/handles.h"
#include "framework/prompt.h"

class CHyperLink final : public fw::ReflectTarget {
 public:
  static constexpr COLORREF kLinkColor = RGB(0, 0, 238);
  static constexpr COLORREF kVisitedColor = RGB(85, 26, 139);
  static constexpr UINT_PTR kTimerId = 100;
  static constexpr UINT kTimerPeriod = 100;  // milliseconds

  CHyperLink() = default;
  CHyperLink(const CHyperLink&) = delete;
  CHyperLink& operator=(const CHyperLink&) = delete;
  ~CHyperLink();

  // Attaches to control `id` of `dialog`, which must outlive the attachment: adds SS_NOTIFY, gives it the
  // link font (made from `font`, the owning dialog's setting) and the hand cursor. A target the shell cannot
  // open is reported through `prompt`, which must outlive the control's window. False when the control does
  // not exist or this object is already attached.
  bool Attach(fw::Dialog& dialog, int id, fw::IUserPrompt& prompt, const controls::FontSetting& font);

  // What a link may open: a download link only an http:// or https:// address, a folder link
  // only a path on a local drive that is not a file. A click on any other target, or on an
  // empty one, is traced and does nothing else.
  enum class TargetKind { kWebAddress, kLocalFolder };

  // What the shell opens on a click; null means none.
  void SetURL(const wchar_t* target, TargetKind kind = TargetKind::kWebAddress);
  // Sets the visited state and redraws the control in the matching colour.
  void SetVisited(bool visited);

  bool visited() const { return visited_; }
  HWND hwnd() const { return control_; }

 private:
  static LRESULT CALLBACK ControlProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                      DWORD_PTR self);
  bool OnReflected(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override;
  LRESULT OnControlMessage(UINT message, WPARAM wParam, LPARAM lParam);
  void OnMouseMove();
  void OnTimer();
  void OnClicked();
  bool TargetAllowed() const;
  void Detach();

  bool over_ = false;
  bool visited_ = false;
  std::wstring target_;
  TargetKind targetKind_ = TargetKind::kWebAddress;
  fw::UniqueFont underlinedFont_;
  fw::UniqueFont normalFont_;
  HCURSOR cursor_ = nullptr;  // shared system cursor: not owned
  UINT_PTR timerId_ = kTimerId;

  HWND control_ = nullptr;  // not owned: a control of the dialog
  fw::Dialog* dialog_ = nullptr;
  fw::IUserPrompt* prompt_ = nullptr;
};
