#pragma once
// The main dialog: the program's only window.

#include <span>

#include "framework/dialog.h"

class CtmrovaneDlg : public fw::Dialog {
 public:
  explicit CtmrovaneDlg(HINSTANCE instance);

 protected:
  std::span<const MapEntry> MessageMap() const override;
  BOOL OnInitDialog() override;
  // Escape never closes the dialog; only Close and the close box do.
  void OnCancel() override {}

 private:
  INT_PTR OnBnClickedBtnClose(WPARAM, LPARAM);
  INT_PTR OnClose(WPARAM, LPARAM);
};
