// The main dialog's option handlers: how package, platform, setup type, antivirus, validity
// and alternate connection constrain each other. Selecting an item from code does not run the
// handler of that combo, so each handler sets every control it affects itself.

#include "app/main_dlg.h"
// The dialog's header brings the Windows types that the control headers need.
#include <commctrl.h>
#include <strsafe.h>

#include "app/main_dlg_controls.h"
#include "app/resource.h"
#include "log/trace_log.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kPlatformTag[] = L"CtmrovaneDlg::OnCbnSelchangeCmbOsplatform";
constexpr wchar_t kSetupTypeTag[] = L"CtmrovaneDlg::OnCbnSelchangeCmbSetuptype";
constexpr wchar_t kAltConnectionTag[] = L"CtmrovaneDlg::OnBnClickedCheckAltConnection";
constexpr wchar_t kRadioIpTag[] = L"CtmrovaneDlg::OnBnClickedRadioIpaddress";
constexpr wchar_t kRadioDomainTag[] = L"CtmrovaneDlg::OnBnClickedRadioDomainname";

using maindlg::kLinuxSetupTypes;
using maindlg::kWindowsSetupTypes;
// The Linux download note as the setup type handler words it when the library lacks it.
constexpr wchar_t kLinuxNoteShortFallback[] = L"Download Tar file from below link for Linux %d bit.";

using maindlg::kLinuxNotes;
using maindlg::kMacNotes;
using maindlg::kMacNotesButClosing;
constexpr int kGroupControls[] = {IDC_STATIC_GROUP, IDC_EDIT_GROUP, IDC_BTN_BROWSEGROUP};
constexpr int kDestinationControls[] = {IDC_STATIC_DESTINATION, IDC_EDIT_DESTINATION, IDC_BTN_BROWSE};
constexpr int kValidityControls[] = {IDC_CHECK_VALIDITY, IDC_CMB_VALIDITY};
constexpr int kSetupAndAntivirus[] = {IDC_STATIC_SETUPTYPE, IDC_CMB_SETUPTYPE, IDC_STATIC_ANTIVIRUS,
                                      IDC_CMB_ANTIVIRUS};

}  // namespace

void CtmrovaneDlg::FillSetupType(std::span<const wchar_t* const> items, int selection) const {
  HWND combo = Item(IDC_CMB_SETUPTYPE);
  ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
  for (size_t index = 0; index < items.size(); ++index) {
    ::SendMessageW(combo, CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(items[index]));
  }
  Select(IDC_CMB_SETUPTYPE, selection);
}

const wchar_t* CtmrovaneDlg::ConfigPath(const wchar_t* tag) const {
  if (configPath_[0] == L'\0') {
    TraceLog(tracelog::kLevelError, tag, L"StringCchPrintfW failed, Error:%lu",
             static_cast<unsigned long>(STRSAFE_E_INSUFFICIENT_BUFFER));
  }
  return configPath_;
}

void CtmrovaneDlg::UpdateSendMail() const {
  Enable(IDC_BTN_SENDMAIL, Selection(IDC_CMB_ANTIVIRUS) == kAntivirusNo);
}

void CtmrovaneDlg::LinkConfigKey(int id, const wchar_t* configPath, const wchar_t* key, const wchar_t* tag) {
  wchar_t address[kPathCapacity] = L"";
  if (installation::ReadConfigString(configPath, key, address) == 0) {
    TraceLog(tracelog::kLevelError, tag, L"GetPrivateProfileString failed, Error:%lu", ::GetLastError());
  }
  SetLink(id, address);
}

INT_PTR CtmrovaneDlg::OnCbnSelchangeCmbPackage(WPARAM, LPARAM) {
  if (Selection(IDC_CMB_PACKAGE) == kPackageMinimal) {
    // Minimal is a Windows EXE/32 bit agent without antivirus, with an optional validity period.
    Enable(IDC_CHECK_VALIDITY, true);
    Enable(IDC_CMB_VALIDITY, IsChecked(IDC_CHECK_VALIDITY));
    ShowAll(kValidityControls, true);
    Select(IDC_CMB_OSPLATFORM, kPlatformWindows);
    Enable(IDC_CMB_OSPLATFORM, false);
    Select(IDC_CMB_ANTIVIRUS, kAntivirusNo);
    Enable(IDC_CMB_ANTIVIRUS, false);
    Select(IDC_CMB_SETUPTYPE, kSetupExe32);
    Enable(IDC_CMB_SETUPTYPE, false);
    ShowAll(kMacNotes, false);
    ShowAll(kSetupAndAntivirus, true);
    ShowAll(kGroupControls, true);
    ShowAll(kDestinationControls, true);
    ShowAll(kLinuxNotes, false);
    FillSetupType(kWindowsSetupTypes, kSetupExe32);
  } else {
    Enable(IDC_CHECK_VALIDITY, false);
    Enable(IDC_CMB_VALIDITY, false);
    SetCheck(IDC_CHECK_VALIDITY, false);
    Select(IDC_CMB_VALIDITY, 0);
    // A disabled platform combo means the dialog comes from Minimal.
    if (!::IsWindowEnabled(Item(IDC_CMB_OSPLATFORM))) {
      Select(IDC_CMB_ANTIVIRUS, kAntivirusYes);
      Select(IDC_CMB_SETUPTYPE, kSetupExe32);
    }
    // The controls take the row of the current platform and setup type, also when "Custom" is
    // picked again while already chosen: no setup type on Mac; antivirus for a Windows EXE and
    // for Mac, whatever it is set to now, so that "Yes" can be chosen again.
    const int platform = Selection(IDC_CMB_OSPLATFORM);
    Enable(IDC_CMB_OSPLATFORM, true);
    Enable(IDC_CMB_SETUPTYPE, platform != kPlatformMac);
    Enable(IDC_CMB_ANTIVIRUS, platform == kPlatformMac || (platform == kPlatformWindows &&
                                                           Selection(IDC_CMB_SETUPTYPE) < kSetupMsi32));
  }
  UpdateSendMail();
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnCbnSelchangeCmbOsplatform(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelError, kPlatformTag, L"called");
  TraceLog(tracelog::kLevelProgress, kPlatformTag, L"Entry.");
  const int platform = Selection(IDC_CMB_OSPLATFORM);
  if (platform == kPlatformMac) {
    Select(IDC_CMB_PACKAGE, kPackageCustom);
    Show(IDC_STATIC_GROUP, true);
    ShowAll(kValidityControls, false);
    ShowAll(kDestinationControls, false);
    Enable(IDC_CMB_SETUPTYPE, false);
    Enable(IDC_CMB_ANTIVIRUS, true);
    Select(IDC_CMB_SETUPTYPE, 0);
    ShowAll(kMacNotes, true);
    PlaceAfter(IDC_STATIC_CLOSING_NOTE, IDC_LINK_MAC_FOLDER, 49, 422, 434, 15);
    Show(IDC_EDIT_GROUP, true);
    Show(IDC_BTN_BROWSEGROUP, true);
    UpdateSendMail();
    ShowAll(kLinuxNotes, false);
  } else if (platform == kPlatformLinux) {
    Select(IDC_CMB_PACKAGE, kPackageCustom);
    ShowAll(kValidityControls, false);
    ShowAll(kDestinationControls, false);
    ShowAll(kMacNotesButClosing, false);
    ShowAll(kLinuxNotes, true);
    Show(IDC_STATIC_CLOSING_NOTE, true);

    wchar_t text[kPathCapacity];
    if (!FormatUiText(uitext::kLinuxNoteDownload, text, kPathCapacity, 32)) {
      TraceLog(tracelog::kLevelError, kPlatformTag, L"StringCchPrintfW failed, Error:%lu",
               static_cast<unsigned long>(STRSAFE_E_INSUFFICIENT_BUFFER));
    }
    SetText(IDC_STATIC_LINUX_NOTE1, text);
    if (FAILED(::StringCchPrintfW(text, kPathCapacity, L"%sweb\\build\\heslin32", installFolder_))) {
      // A folder path cut short would open another folder: the link gets none.
      TraceLog(tracelog::kLevelError, kPlatformTag, L"Linux folder cut: does not fit %u characters, not used",
               static_cast<unsigned>(kPathCapacity));
      text[0] = L'\0';
    }
    SetLink(IDC_LINK_LINUX_FOLDER, text);
    const wchar_t* configPath = ConfigPath(kPlatformTag);
    PlaceAfter(IDC_STATIC_CLOSING_NOTE, IDC_LINK_LINUX_FOLDER, 49, 405, 443, 15);
    LinkConfigKey(IDC_LINK_LINUX_URL1, configPath, installation::kKeyLinuxUrl1x32, kPlatformTag);
    LinkConfigKey(IDC_LINK_LINUX_URL2, configPath, installation::kKeyLinuxUrl2x32, kPlatformTag);
    FillSetupType(kLinuxSetupTypes, kSetupLinux32);
    Enable(IDC_CMB_SETUPTYPE, true);
    ShowAll(kGroupControls, false);
    Enable(IDC_CMB_ANTIVIRUS, false);
    UpdateSendMail();
  } else {
    Enable(IDC_CMB_SETUPTYPE, true);
    ShowAll(kValidityControls, true);
    FillSetupType(kWindowsSetupTypes, kSetupExe32);
    ShowAll(kMacNotes, false);
    ShowAll(kSetupAndAntivirus, true);
    ShowAll(kGroupControls, true);
    ShowAll(kDestinationControls, true);
    Enable(IDC_CMB_ANTIVIRUS, true);
    if (Selection(IDC_CMB_ANTIVIRUS) == kAntivirusNo) {
      Enable(IDC_BTN_SENDMAIL, true);
    }
    ShowAll(kLinuxNotes, false);
  }
  TraceLog(tracelog::kLevelError, kPlatformTag, L"Exit.");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnCbnSelchangeCmbSetuptype(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kSetupTypeTag, L"Entry.");
  Show(IDC_LINK_LINUX_FOLDER, false);
  Show(IDC_LINK_LINUX_URL1, false);
  Show(IDC_LINK_LINUX_URL2, false);

  const int setupType = Selection(IDC_CMB_SETUPTYPE);
  if (setupType > kSetupExe64) {
    // An MSI setup never includes the antivirus.
    Select(IDC_CMB_ANTIVIRUS, kAntivirusNo);
    Enable(IDC_CMB_ANTIVIRUS, false);
    Enable(IDC_BTN_SENDMAIL, true);
  } else if (Selection(IDC_CMB_PACKAGE) == kPackageCustom) {
    Enable(IDC_CMB_ANTIVIRUS, true);
  }

  if (Selection(IDC_CMB_OSPLATFORM) == kPlatformLinux) {
    Show(IDC_LINK_LINUX_URL1, true);
    Show(IDC_LINK_LINUX_URL2, true);
    Show(IDC_LINK_LINUX_FOLDER, true);
    ShowAll(kMacNotesButClosing, false);
    Show(IDC_STATIC_CLOSING_NOTE, true);
    PlaceAfter(IDC_STATIC_CLOSING_NOTE, IDC_LINK_LINUX_FOLDER, 49, 405, 443, 15);
    Enable(IDC_CMB_ANTIVIRUS, false);

    const bool bits32 = setupType == kSetupLinux32;
    wchar_t text[kPathCapacity];
    SetLink(IDC_LINK_LINUX_FOLDER, L"");
    const HRESULT formatted = ::StringCchPrintfW(
        text, kPathCapacity, bits32 ? L"%sweb\\build\\heslin32" : L"%sweb\\build\\heslin64", installFolder_);
    if (FAILED(formatted)) {
      TraceLog(tracelog::kLevelError, kSetupTypeTag, L"StringCchPrintfW failed, Error:%lu",
               static_cast<unsigned long>(formatted));
      text[0] = L'\0';
    }
    SetLink(IDC_LINK_LINUX_FOLDER, text);
    if (!FormatUiText(uitext::kLinuxNoteDownload.id, kLinuxNoteShortFallback, text, kPathCapacity,
                      bits32 ? 32 : 64)) {
      TraceLog(tracelog::kLevelError, kSetupTypeTag, L"StringCchPrintfW failed, Error:%lu",
               static_cast<unsigned long>(STRSAFE_E_INSUFFICIENT_BUFFER));
    }
    SetText(IDC_STATIC_LINUX_NOTE1, text);
    const wchar_t* configPath = ConfigPath(kSetupTypeTag);
    LinkConfigKey(IDC_LINK_LINUX_URL1, configPath,
                  bits32 ? installation::kKeyLinuxUrl1x32 : installation::kKeyLinuxUrl1x64, kSetupTypeTag);
    LinkConfigKey(IDC_LINK_LINUX_URL2, configPath,
                  bits32 ? installation::kKeyLinuxUrl2x32 : installation::kKeyLinuxUrl2x64, kSetupTypeTag);
  }
  TraceLog(tracelog::kLevelError, kSetupTypeTag, L"Exit");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedCheckValidity(WPARAM, LPARAM) {
  Enable(IDC_CMB_VALIDITY, IsChecked(IDC_CHECK_VALIDITY));
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnCbnSelchangeCmbAntivirus(WPARAM, LPARAM) {
  UpdateSendMail();
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedCheckAltConnection(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kAltConnectionTag, L"Start.");
  if (IsChecked(IDC_CHECK_ALT_CONNECTION)) {
    Enable(IDC_RADIO_IPADDRESS, true);
    Enable(IDC_IPADDRESS, true);
    Enable(IDC_RADIO_DOMAINNAME, true);
    Enable(IDC_EDIT_DOMAINNAME, false);
    ::SetFocus(Item(IDC_IPADDRESS));
    SetCheck(IDC_RADIO_IPADDRESS, true);
    SetCheck(IDC_RADIO_DOMAINNAME, false);
  } else {
    Enable(IDC_RADIO_IPADDRESS, false);
    Enable(IDC_IPADDRESS, false);
    Enable(IDC_RADIO_DOMAINNAME, false);
    Enable(IDC_EDIT_DOMAINNAME, false);
    SetText(IDC_EDIT_DOMAINNAME, L"");
    ::SendMessageW(Item(IDC_IPADDRESS), IPM_CLEARADDRESS, 0, 0);
  }
  TraceLog(tracelog::kLevelProgress, kAltConnectionTag, L"success");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedRadioIpaddress(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kRadioIpTag, L"Start.");
  if (IsChecked(IDC_RADIO_IPADDRESS)) {
    Enable(IDC_IPADDRESS, true);
    Enable(IDC_EDIT_DOMAINNAME, false);
    SetText(IDC_EDIT_DOMAINNAME, L"");
    ::SetFocus(Item(IDC_IPADDRESS));
  }
  TraceLog(tracelog::kLevelProgress, kRadioIpTag, L"Success.");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedRadioDomainname(WPARAM, LPARAM) {
  TraceLog(tracelog::kLevelProgress, kRadioDomainTag, L"Start.");
  if (IsChecked(IDC_RADIO_DOMAINNAME)) {
    Enable(IDC_IPADDRESS, false);
    Enable(IDC_EDIT_DOMAINNAME, true);
    ::SendMessageW(Item(IDC_IPADDRESS), IPM_CLEARADDRESS, 0, 0);
    ::SetFocus(Item(IDC_EDIT_DOMAINNAME));
  }
  TraceLog(tracelog::kLevelProgress, kRadioDomainTag, L"Success.");
  return TRUE;
}
