#pragma once
// The fixture of the main dialog's tests: the real dialog on a stand-in server laid out per test,
// driven through its controls.

#include <windows.h>
// commctrl.h needs the types of windows.h.
#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/main_dlg.h"
#include "app/resource.h"
#include "controls/tt_combo_box.h"
#include "layout/server_layout.h"
#include "support/dialog_probe.h"
#include "support/mapi_record.h"
#include "support/registry_backup.h"
#include "support/scripted_prompt.h"
#include "support/temp_dir.h"
#include "support/timer_script.h"
#include "support/trace_capture.h"
#include "support/tree_items.h"
#include "support/window_report.h"

namespace maindlgtest {

using testsupport::CountLines;
using testsupport::Do;
using testsupport::FindOwnedDialog;
using testsupport::ScriptedPrompt;
using testsupport::TempDir;
using testsupport::TimerScript;

inline constexpr wchar_t kTitle[] = L"Halvane Endpoint Security Client Packager";
inline constexpr wchar_t kLoadGroupsFailed[] = L"Unable to load groups";

class MainDialogTest : public ::testing::Test {
 protected:
  MainDialogTest() : registration_(serverlayout::kAppPathsKey) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES | ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
    options_.serverFolder = dir_ / L"Server Folder";
    options_.layOutProgram = false;
  }

  void LayOut() {
    ASSERT_TRUE(serverlayout::LayOutServer(options_, &layout_)) << testing::PrintToString(layout_.error);
  }

  // The console configuration with known addresses and the given hesinstmode line.
  void WriteConfig(const std::string& modeLine) {
    const std::string text =
        "[ADMIN_CONSOLE_SECTION]\r\n"
        "mac_build_url=http://mac.example.test/one\r\n"
        "mac_build_url1=http://mac.example.test/two\r\n"
        "linux_url1_32=http://linux.example.test/32/one\r\n"
        "linux_url2_32=http://linux.example.test/32/two\r\n"
        "linux_url1_64=http://linux.example.test/64/one\r\n"
        "linux_url2_64=http://linux.example.test/64/two\r\n" +
        modeLine;
    ASSERT_TRUE(testsupport::WriteBytes(layout_.serverFolder + L"\\config\\cnslconf.ini", text));
  }

  void Open() {
    dialog_ = std::make_unique<CtmrovaneDlg>(GetModuleHandleW(nullptr), prompt_);
    ASSERT_TRUE(testsupport::WindowCreated([&] { return dialog_->Create(nullptr); }, IDD_TMROVANE_DIALOG));
    ASSERT_NE(nullptr, dialog_->hwnd());
  }

  // Runs the dialog modally; a dialog still open after the script is closed by the test.
  INT_PTR RunModal(std::vector<TimerScript::Step> steps = {}) {
    dialog_ = std::make_unique<CtmrovaneDlg>(GetModuleHandleW(nullptr), prompt_);
    // Whatever a failed step left open is cancelled before the dialog is closed.
    steps.push_back([this] {
      HWND owned = dialog_->hwnd() != nullptr ? FindOwnedDialog(dialog_->hwnd()) : nullptr;
      if (owned != nullptr) {
        PostMessageW(owned, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return false;
      }
      if (dialog_->hwnd() != nullptr) {
        leftOpen_ = true;
        PostMessageW(dialog_->hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BTN_CLOSE, BN_CLICKED), 0);
      }
      return true;
    });
    TimerScript script(std::move(steps));
    return dialog_->DoModal(nullptr);
  }

  HWND Item(int id) const { return dialog_->Item(id); }
  std::vector<std::wstring> Items(int id) const { return testsupport::ComboItems(Item(id)); }
  RECT Placement(int id) const { return testsupport::PlacementIn(dialog_->hwnd(), Item(id)); }

  // What the administrator does: pick an item, click a button.
  void Choose(int id, int index) const { testsupport::ChooseItem(dialog_->hwnd(), id, index); }
  void Click(int id) const { testsupport::ClickButton(dialog_->hwnd(), id); }

  // The option state in one line: each combo as H, or E/D with its selection (and item count
  // for the setup type); the validity switch and combo; Send Mail; the group and destination
  // controls; which notes show.
  std::wstring State() const {
    const auto access = [&](int id) -> std::wstring {
      return !dialog_->IsShown(id) ? L"H" : dialog_->IsEnabled(id) ? L"E" : L"D";
    };
    const auto combo = [&](int id) {
      std::wstring text = access(id);
      if (text != L"H") {
        text += L":" + dialog_->Text(id);
      }
      return text;
    };
    const auto group = [&](std::initializer_list<int> ids) -> std::wstring {
      int shown = 0;
      for (int id : ids) {
        shown += dialog_->IsShown(id) ? 1 : 0;
      }
      return shown == 0 ? L"hidden" : shown == static_cast<int>(ids.size()) ? L"shown" : L"mixed";
    };
    std::wstring validity = access(IDC_CHECK_VALIDITY);
    if (validity != L"H") {
      validity += dialog_->IsChecked(IDC_CHECK_VALIDITY) ? L"+" : L"-";
    }
    validity += L" " + combo(IDC_CMB_VALIDITY);
    const std::wstring mac = group({IDC_STATIC_MAC_NOTE1, IDC_LINK_MAC_URL1, IDC_LINK_MAC_URL2,
                                    IDC_STATIC_MAC_NOTE2, IDC_LINK_MAC_FOLDER});
    const std::wstring linux = group({IDC_STATIC_LINUX_NOTE1, IDC_LINK_LINUX_URL1, IDC_LINK_LINUX_URL2,
                                      IDC_STATIC_LINUX_NOTE2, IDC_LINK_LINUX_FOLDER});
    std::wstring notes = L"none";
    if (mac == L"shown" && linux == L"hidden" && dialog_->IsShown(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"mac";
    } else if (mac == L"hidden" && linux == L"shown" && dialog_->IsShown(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"linux";
    } else if (mac != L"hidden" || linux != L"hidden" || dialog_->IsShown(IDC_STATIC_CLOSING_NOTE)) {
      notes = L"mixed mac " + mac + L" linux " + linux;
    }
    return L"platform " + combo(IDC_CMB_OSPLATFORM) + L" | setup " + combo(IDC_CMB_SETUPTYPE) + L"/" +
           std::to_wstring(Items(IDC_CMB_SETUPTYPE).size()) + L" | antivirus " + combo(IDC_CMB_ANTIVIRUS) +
           L" | validity " + validity + L" | mail " + access(IDC_BTN_SENDMAIL) + L" | group " +
           group({IDC_STATIC_GROUP, IDC_EDIT_GROUP, IDC_BTN_BROWSEGROUP}) + L" | destination " +
           group({IDC_STATIC_DESTINATION, IDC_EDIT_DESTINATION, IDC_BTN_BROWSE}) + L" | notes " + notes;
  }

  std::wstring InstallFolder() const { return layout_.serverFolder + L"\\"; }
  std::wstring Journal() const {
    const std::string bytes =
        testsupport::ReadBytes(layout_.serverFolder + L"\\" + serverlayout::kGroupJournalFile);
    return std::wstring(bytes.begin(), bytes.end());
  }

  TempDir dir_;
  testsupport::RegistryPathBackup registration_;
  serverlayout::Options options_;
  serverlayout::Result layout_;
  ScriptedPrompt prompt_;
  std::unique_ptr<CtmrovaneDlg> dialog_;
  bool leftOpen_ = false;
};

// clang-format off
inline const std::wstring kInitialWindows =
    L"platform E:Windows | setup E:EXE/32 bit/4 | antivirus E:Yes | validity D- D:30 | mail D | "
    L"group shown | destination shown | notes none";
// clang-format on

}  // namespace maindlgtest
