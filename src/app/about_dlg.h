#pragma once
// The About box: the application title as caption and as its first line, the owner line below.

#include "framework/dialog.h"

class CAboutDlg : public fw::Dialog {
 public:
  explicit CAboutDlg(HINSTANCE instance);

 protected:
  BOOL OnInitDialog() override;
};
