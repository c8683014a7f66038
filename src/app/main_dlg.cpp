#include "app/main_dlg.h"

#include <commctrl.h>
#include <strsafe.h>

#include <cwchar>
#include <iterator>
#include <string>

#include "app/about_dlg.h"
#include "app/folder_browse.h"
#include "app/main_dlg_controls.h"
#include "app/resource.h"
#include "controls/dialog_font.h"
#include "framework/gdi_scope.h"
#include "groups/select_group_dlg.h"
#include "log/trace_log.h"
#include "mail/send_mail.h"
#include "program/program_services.h"
#include "uitext/ui_text.h"

namespace {

constexpr wchar_t kInitTag[] = L"CtmrovaneDlg::OnInitDialog";
constexpr wchar_t kDefaultGuidTag[] = L"CtmrovaneDlg::GetDefaultGUID";
constexpr wchar_t kBrowseGroupTag[] = L"CtmrovaneDlg::OnBnClickedBtnBrowsegroup";

using Placement = fw::ControlPlacement;

// Window order is tab order: each control goes after the one before it, the first to the top.
constexpr Placement kFixedLayout[] = {
    {IDC_STATIC_HEADLINE, 15, 13, 459, 36},     {IDC_STATIC_INTRO, 15, 52, 459, 65},
    {IDC_STATIC_OPTIONS, 15, 138, 458, 16},     {IDC_STATIC_PACKAGE, 12, 166, 215, 16},
    {IDC_CMB_PACKAGE, 242, 163, 110, 21},       {IDC_STATIC_PLATFORM, 15, 193, 213, 16},
    {IDC_CMB_OSPLATFORM, 242, 190, 110, 21},    {IDC_STATIC_SETUPTYPE, 17, 221, 210, 16},
    {IDC_CMB_SETUPTYPE, 242, 218, 110, 21},     {IDC_STATIC_ANTIVIRUS, 15, 249, 212, 16},
    {IDC_CMB_ANTIVIRUS, 242, 245, 110, 21},     {IDC_STATIC_GROUP, 15, 280, 443, 15},
    {IDC_EDIT_GROUP, 15, 302, 377, 23},         {IDC_BTN_BROWSEGROUP, 399, 301, 75, 26},
    {IDC_STATIC_DESTINATION, 15, 340, 443, 15}, {IDC_EDIT_DESTINATION, 15, 361, 377, 23},
    {IDC_BTN_BROWSE, 399, 359, 75, 26},         {IDC_CHECK_VALIDITY, 11, 413, 147, 16},
    {IDC_CMB_VALIDITY, 158, 411, 54, 21},       {IDC_CHECK_ALT_CONNECTION, 29, 460, 450, 30},
    {IDC_STATIC_INFO_ICON, 11, 530, 35, 35},    {IDC_BTN_CREATE, 237, 585, 75, 26},
    {IDC_BTN_SENDMAIL, 318, 585, 75, 26},       {IDC_BTN_CLOSE, 399, 585, 75, 26},
};
constexpr int kDialogWidth = 497;
constexpr int kDialogClientHeight = 628;

struct NotePlacement {
  Placement placement;
  int after;
};
constexpr NotePlacement kNoteLayout[] = {
    {{IDC_STATIC_LINUX_NOTE1, 49, 300, 443, 15}, IDC_CMB_ANTIVIRUS},
    {{IDC_LINK_LINUX_URL1, 56, 320, 443, 15}, IDC_STATIC_LINUX_NOTE1},
    {{IDC_LINK_LINUX_URL2, 56, 340, 443, 15}, IDC_STATIC_LINUX_NOTE1},
    {{IDC_STATIC_LINUX_NOTE2, 49, 365, 443, 15}, IDC_LINK_LINUX_URL1},
    {{IDC_LINK_LINUX_FOLDER, 56, 385, 443, 15}, IDC_STATIC_LINUX_NOTE2},
    {{IDC_STATIC_MAC_NOTE1, 49, 330, 443, 15}, IDC_BTN_BROWSEGROUP},
    {{IDC_LINK_MAC_URL1, 56, 350, 427, 15}, IDC_STATIC_MAC_NOTE1},
    {{IDC_LINK_MAC_URL2, 56, 365, 427, 15}, IDC_LINK_MAC_URL1},
    {{IDC_STATIC_MAC_NOTE2, 49, 385, 434, 15}, IDC_LINK_MAC_URL2},
    {{IDC_LINK_MAC_FOLDER, 56, 403, 427, 15}, IDC_STATIC_MAC_NOTE2},
    {{IDC_STATIC_CLOSING_NOTE, 49, 419, 434, 15}, IDC_LINK_MAC_FOLDER},
};

// Controls that get the dialog font, the first one being the one it is made against.
constexpr int kFontControls[] = {
    IDC_STATIC_INTRO,     IDC_STATIC_HEADLINE,  IDC_STATIC_DESTINATION, IDC_STATIC_DISTRIBUTION,
    IDC_BTN_BROWSE,       IDC_STATIC_AV_NOTE,   IDC_BTN_SENDMAIL,       IDC_BTN_CREATE,
    IDC_BTN_CLOSE,        IDC_STATIC_GROUP,     IDC_BTN_BROWSEGROUP,    IDC_EDIT_GROUP,
    IDC_EDIT_DESTINATION, IDC_STATIC_MAC_NOTE1, IDC_STATIC_MAC_NOTE2,   IDC_STATIC_CLOSING_NOTE,
    IDC_LINK_MAC_URL1,    IDC_LINK_MAC_URL2,    IDC_LINK_MAC_FOLDER,    IDC_STATIC_LINUX_NOTE1,
    IDC_LINK_LINUX_URL1,  IDC_LINK_LINUX_URL2,  IDC_STATIC_LINUX_NOTE2, IDC_LINK_LINUX_FOLDER,
    IDC_STATIC_OPTIONS,   IDC_STATIC_PACKAGE,   IDC_CMB_PACKAGE,        IDC_STATIC_PLATFORM,
    IDC_CMB_OSPLATFORM,   IDC_STATIC_SETUPTYPE, IDC_CMB_SETUPTYPE,      IDC_STATIC_ANTIVIRUS,
    IDC_CMB_ANTIVIRUS,    IDC_CHECK_VALIDITY,   IDC_CMB_VALIDITY,       IDC_CHECK_ALT_CONNECTION,
    IDC_STATIC_INFO_ICON, IDC_RADIO_IPADDRESS,  IDC_EDIT_DOMAINNAME,    IDC_RADIO_DOMAINNAME,
};

constexpr int kAlternateControls[] = {IDC_CHECK_ALT_CONNECTION, IDC_RADIO_IPADDRESS,  IDC_IPADDRESS,
                                      IDC_EDIT_DOMAINNAME,      IDC_STATIC_INFO_ICON, IDC_RADIO_DOMAINNAME};

constexpr int kLinkIds[] = {IDC_LINK_MAC_URL1,   IDC_LINK_MAC_FOLDER,   IDC_LINK_MAC_URL2,
                            IDC_LINK_LINUX_URL1, IDC_LINK_LINUX_FOLDER, IDC_LINK_LINUX_URL2};

}  // namespace

CtmrovaneDlg::CtmrovaneDlg(HINSTANCE instance) : fw::Dialog(instance, IDD_TMROVANE_DIALOG) {}

CtmrovaneDlg::CtmrovaneDlg(HINSTANCE instance, fw::IUserPrompt& prompt)
    : fw::Dialog(instance, IDD_TMROVANE_DIALOG), externalPrompt_(&prompt) {}

std::span<const fw::Dialog::MapEntry> CtmrovaneDlg::MessageMap() const {
  static const MapEntry kMap[] = {
      {WM_COMMAND, IDC_BTN_CLOSE, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnClose)},
      {WM_COMMAND, IDC_BTN_BROWSE, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnBrowse)},
      {WM_COMMAND, IDC_BTN_CREATE, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnCreate)},
      {WM_COMMAND, IDC_BTN_BROWSEGROUP, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnBrowsegroup)},
      {WM_COMMAND, IDC_BTN_SENDMAIL, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedBtnSend)},
      {WM_COMMAND, IDC_CMB_PACKAGE, CBN_SELCHANGE, Bind(&CtmrovaneDlg::OnCbnSelchangeCmbPackage)},
      {WM_COMMAND, IDC_CMB_OSPLATFORM, CBN_SELCHANGE, Bind(&CtmrovaneDlg::OnCbnSelchangeCmbOsplatform)},
      {WM_COMMAND, IDC_CMB_SETUPTYPE, CBN_SELCHANGE, Bind(&CtmrovaneDlg::OnCbnSelchangeCmbSetuptype)},
      {WM_COMMAND, IDC_CHECK_VALIDITY, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedCheckValidity)},
      {WM_COMMAND, IDC_CMB_ANTIVIRUS, CBN_SELCHANGE, Bind(&CtmrovaneDlg::OnCbnSelchangeCmbAntivirus)},
      {WM_COMMAND, IDC_CHECK_ALT_CONNECTION, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedCheckAltConnection)},
      {WM_COMMAND, IDC_RADIO_IPADDRESS, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedRadioIpaddress)},
      {WM_COMMAND, IDC_RADIO_DOMAINNAME, BN_CLICKED, Bind(&CtmrovaneDlg::OnBnClickedRadioDomainname)},
      {WM_SYSCOMMAND, 0, 0, Bind(&CtmrovaneDlg::OnSysCommand)},
      {WM_PAINT, 0, 0, Bind(&CtmrovaneDlg::OnPaint)},
      {WM_QUERYDRAGICON, 0, 0, Bind(&CtmrovaneDlg::OnQueryDragIcon)},
      {WM_HELP, 0, 0, Bind(&CtmrovaneDlg::OnHelp)},
      {WM_CLOSE, 0, 0, Bind(&CtmrovaneDlg::OnClose)},
  };
  return kMap;
}

fw::IUserPrompt& CtmrovaneDlg::Prompt() {
  if (externalPrompt_ != nullptr) {
    return *externalPrompt_;
  }
  if (!ownPrompt_) {
    ownPrompt_.emplace(hwnd(), title_);
  }
  return *ownPrompt_;
}

BOOL CtmrovaneDlg::OnInitDialog() {
  if (const ProgramServices* program = ProgramServices::Current()) {
    ::StringCchCopyW(title_, kPathCapacity, program->title());
  } else {
    LoadAppTitle(title_, kPathCapacity, kPathCapacity);
  }

  // The About entry of the system menu carries the application title.
  if (title_[0] != L'\0') {
    if (HMENU systemMenu = ::GetSystemMenu(hwnd(), FALSE)) {
      ::AppendMenuW(systemMenu, MF_SEPARATOR, 0, nullptr);
      ::AppendMenuW(systemMenu, MF_STRING, IDM_ABOUTBOX, title_);
    }
  }
  AttachControls();
  icon_ = ::LoadIconW(instance(), MAKEINTRESOURCEW(IDR_MAINFRAME));
  ::SendMessageW(hwnd(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon_));
  ::SendMessageW(hwnd(), WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon_));

  TraceLog(tracelog::kLevelError, kInitTag, L"called");
  Enable(IDC_CHECK_VALIDITY, false);
  Enable(IDC_CMB_VALIDITY, false);
  ShowAll(maindlg::kMacNotes, false);
  ShowAll(maindlg::kLinuxNotes, false);

  currentGroupId_ = kDefaultGroupId;
  installationMode_ = 0;
  wmemset(groupGuid_, L'\0', kGuidCapacity);
  GetDefaultGUID(groupGuid_, static_cast<int>(kGuidCapacity));
  if (closing_) {
    return TRUE;  // a failed default group ends the dialog before it is shown
  }

  ApplyFixedLayout();
  ::SetWindowTextW(hwnd(), title_);

  installation::FindInstallFolder(installFolder_, kInitTag);

  wchar_t infoTip[2 * kTextCapacity] = L"";
  SetControlTexts(infoTip, 2 * kTextCapacity);

  installation::BuildConfigFilePath(installFolder_, configPath_);
  ReadDownloadAddresses(configPath_);
  ApplyInstallationMode(configPath_);

  installation::BuildWebBuildFolder(installFolder_, webBuildFolder_);
  SetLink(IDC_LINK_MAC_FOLDER, webBuildFolder_);
  Enable(IDC_BTN_SENDMAIL, false);
  wchar_t linuxFolder[kPathCapacity] = L"";
  if (webBuildFolder_[0] != L'\0' &&
      FAILED(::StringCchPrintfW(linuxFolder, kPathCapacity, L"%s\\heslin32", webBuildFolder_))) {
    // A folder path cut short would open another folder: the link gets none.
    TraceLog(tracelog::kLevelError, kInitTag, L"Linux folder cut: does not fit %u characters, not used",
             static_cast<unsigned>(kPathCapacity));
    linuxFolder[0] = L'\0';
  }
  SetLink(IDC_LINK_LINUX_FOLDER, linuxFolder);

  FillCombos();
  ApplyDialogFont();

  ::SendMessageW(Item(IDC_STATIC_INFO_ICON), STM_SETICON,
                 reinterpret_cast<WPARAM>(::LoadIconW(instance(), MAKEINTRESOURCEW(IDI_INFORMATION_NOTE))),
                 0);
  CreateTooltips(infoTip);

  wchar_t tip[kTextCapacity];
  LoadUiText(uitext::kTipPackageCustom, tip);
  packageCombo_.SetItemTip(kPackageCustom, tip);
  LoadUiText(uitext::kTipPackageMinimal, tip);
  packageCombo_.SetItemTip(kPackageMinimal, tip);

  TraceLog(tracelog::kLevelError, kInitTag, L"success");
  return TRUE;
}

void CtmrovaneDlg::AttachControls() {
  for (size_t i = 0; i < std::size(kLinkIds); ++i) {
    if (!links_[i].Attach(*this, kLinkIds[i], Prompt(), DialogFontSetting())) {
      TraceLog(tracelog::kLevelError, kInitTag, L"Unable to attach link %d", kLinkIds[i]);
    }
  }
  if (!packageCombo_.Attach(hwnd(), IDC_CMB_PACKAGE)) {
    TraceLog(tracelog::kLevelError, kInitTag, L"Unable to attach the package combo box");
  }
}

CHyperLink& CtmrovaneDlg::Link(int id) {
  size_t index = 0;
  while (index + 1 < std::size(kLinkIds) && kLinkIds[index] != id) {
    ++index;
  }
  return links_[index];
}

void CtmrovaneDlg::GetDefaultGUID(wchar_t* guid, int capacity) {
  switch (groups::ReadDefaultGroupGuid(guid, capacity, kDefaultGuidTag)) {
    case groups::DefaultGroupResult::kLoaded:
      return;
    case groups::DefaultGroupResult::kNoRegistration: {
      wchar_t message[kTextCapacity];
      LoadUiText(uitext::kErrLoadGroups, message);
      Prompt().Show(message, MB_ICONERROR);
      return;
    }
    case groups::DefaultGroupResult::kFailed: {
      wchar_t message[kTextCapacity];
      LoadUiText(uitext::kErrLoadGroups, message);
      Prompt().Show(message, MB_ICONERROR);
      CloseAsCancel();
      return;
    }
  }
}

void CtmrovaneDlg::ApplyFixedLayout() {
  PlaceControls(kFixedLayout, kDialogWidth, kDialogClientHeight);
  for (const NotePlacement& note : kNoteLayout) {
    const Placement& place = note.placement;
    PlaceAfter(place.id, note.after, place.x, place.y, place.width, place.height);
  }
}

void CtmrovaneDlg::SetControlTexts(wchar_t* infoTip, size_t infoTipCapacity) {
  LoadUiText(uitext::kDefaultGroupName, groupName_);
  SetText(IDC_EDIT_GROUP, groupName_);
  wchar_t brand[kTextCapacity];
  LoadUiText(uitext::kBrandWord, brand);

  wchar_t text[2 * kTextCapacity];
  const auto format = [&](int id, const UiText& source, auto... args) {
    FormatUiText(source, text, 2 * kTextCapacity, args...);
    SetText(id, text);
  };
  const auto label = [&](int id, const UiText& source) {
    LoadUiText(source.id, source.fallback, text, kTextCapacity);
    SetText(id, text);
  };
  const auto note = [&](int id, const UiText& source) {
    wchar_t loaded[kTextCapacity];
    LoadUiText(source, loaded);
    ::StringCchPrintfW(text, 2 * kTextCapacity, L"- %s", loaded);
    SetText(id, text);
  };

  format(IDC_STATIC_INTRO, uitext::kIntroNote, brand, brand);
  format(IDC_STATIC_HEADLINE, uitext::kHeadline, brand);
  format(IDC_STATIC_DESTINATION, uitext::kLblDestination, brand);
  label(IDC_STATIC_DISTRIBUTION, uitext::kDistributionNote);
  ::StringCchCopyW(infoTip, infoTipCapacity, text);
  ::StringCchCatW(infoTip, infoTipCapacity, L"\n");
  label(IDC_STATIC_GROUP, uitext::kLblGroup);
  label(IDC_BTN_BROWSE, uitext::kBtnBrowseDest);
  label(IDC_BTN_BROWSEGROUP, uitext::kBtnBrowseGroup);
  label(IDC_BTN_CREATE, uitext::kBtnCreate);
  label(IDC_BTN_SENDMAIL, uitext::kBtnSendMail);
  label(IDC_BTN_CLOSE, uitext::kBtnClose);
  note(IDC_STATIC_MAC_NOTE1, uitext::kMacNoteDownload);
  note(IDC_STATIC_MAC_NOTE2, uitext::kMacNoteCopy);
  note(IDC_STATIC_CLOSING_NOTE, uitext::kNoteClickCreate);
  format(IDC_STATIC_AV_NOTE, uitext::kAntivirusNote, brand);
  ::StringCchCatW(infoTip, infoTipCapacity, text);
  label(IDC_RADIO_IPADDRESS, uitext::kRadioAltIp);
  label(IDC_RADIO_DOMAINNAME, uitext::kRadioDomainName);
  label(IDC_CHECK_ALT_CONNECTION, uitext::kChkAltConnection);
}

void CtmrovaneDlg::ReadDownloadAddresses(const wchar_t* configPath) {
  installation::ReadConfigString(configPath, installation::kKeyMacUrl1, macUrl1_);
  SetLink(IDC_LINK_MAC_URL1, macUrl1_);
  installation::ReadConfigString(configPath, installation::kKeyMacUrl2, macUrl2_);
  SetLink(IDC_LINK_MAC_URL2, macUrl2_);
  wchar_t address[kPathCapacity];
  installation::ReadConfigString(configPath, installation::kKeyLinuxUrl1x32, address);
  SetLink(IDC_LINK_LINUX_URL1, address);
  installation::ReadConfigString(configPath, installation::kKeyLinuxUrl2x32, address);
  SetLink(IDC_LINK_LINUX_URL2, address);
}

void CtmrovaneDlg::ApplyInstallationMode(const wchar_t* configPath) {
  if (installation::ReadInstallMode(configPath) == installation::kInstallModeHidden) {
    ShowAll(kAlternateControls, false);
    installationMode_ = installation::kInstallModeHidden;
    return;
  }
  // The alternate connection controls take the notes' place; the notes move into the
  // information icon's tooltip.
  Enable(IDC_RADIO_IPADDRESS, false);
  Enable(IDC_IPADDRESS, false);
  Enable(IDC_EDIT_DOMAINNAME, false);
  SetCheck(IDC_RADIO_IPADDRESS, true);
  Enable(IDC_RADIO_DOMAINNAME, false);
  Show(IDC_STATIC_DISTRIBUTION, false);
  Show(IDC_STATIC_AV_NOTE, false);
  installationMode_ = installation::kInstallModeOffered;
}

void CtmrovaneDlg::FillCombos() {
  wchar_t text[kTextCapacity];
  const auto label = [&](int id, const UiText& source) {
    LoadUiText(source, text);
    SetText(id, text);
  };
  const auto insert = [&](int id, int index, const UiText& source) {
    LoadUiText(source, text);
    ::SendMessageW(Item(id), CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
  };

  label(IDC_STATIC_OPTIONS, uitext::kLblOptionsHeading);
  label(IDC_STATIC_PACKAGE, uitext::kLblPackage);
  insert(IDC_CMB_PACKAGE, kPackageCustom, uitext::kItemPackageCustom);
  insert(IDC_CMB_PACKAGE, kPackageMinimal, uitext::kItemPackageMinimal);
  Select(IDC_CMB_PACKAGE, kPackageCustom);

  label(IDC_STATIC_PLATFORM, uitext::kLblPlatform);
  insert(IDC_CMB_OSPLATFORM, kPlatformWindows, uitext::kItemPlatformWindows);
  insert(IDC_CMB_OSPLATFORM, kPlatformMac, uitext::kItemPlatformMac);
  insert(IDC_CMB_OSPLATFORM, kPlatformLinux, uitext::kItemPlatformLinux);
  Select(IDC_CMB_OSPLATFORM, kPlatformWindows);

  label(IDC_STATIC_SETUPTYPE, uitext::kLblSetupType);
  wchar_t linuxNote[kPathCapacity];
  FormatUiText(uitext::kLinuxNoteDownload, linuxNote, kPathCapacity, 32);
  SetText(IDC_STATIC_LINUX_NOTE1, linuxNote);
  label(IDC_STATIC_LINUX_NOTE2, uitext::kLinuxNoteCopy);
  FillSetupType(maindlg::kWindowsSetupTypes, kSetupExe32);

  label(IDC_STATIC_ANTIVIRUS, uitext::kLblAntivirus);
  insert(IDC_CMB_ANTIVIRUS, kAntivirusYes, uitext::kItemAntivirusYes);
  insert(IDC_CMB_ANTIVIRUS, kAntivirusNo, uitext::kItemAntivirusNo);
  Select(IDC_CMB_ANTIVIRUS, kAntivirusYes);

  label(IDC_CHECK_VALIDITY, uitext::kChkValidity);
  // Inserted at fixed positions: the list keeps this order although its template sorts.
  for (size_t index = 0; index < std::size(kValidityDays); ++index) {
    wchar_t days[8];
    ::StringCchPrintfW(days, std::size(days), L"%d", kValidityDays[index]);
    ::SendMessageW(Item(IDC_CMB_VALIDITY), CB_INSERTSTRING, index, reinterpret_cast<LPARAM>(days));
  }
  Select(IDC_CMB_VALIDITY, 0);
}

void CtmrovaneDlg::ApplyDialogFont() {
  font_ = controls::CreateDialogFont(Item(kFontControls[0]), DialogFontSetting());
  if (!font_) {
    return;
  }
  for (const int id : kFontControls) {
    ::SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), TRUE);
  }
}

void CtmrovaneDlg::CreateTooltips(const wchar_t* infoTip) {
  const auto create = [&](int id, const wchar_t* text, int maxWidth) -> HWND {
    HWND tool = Item(id);
    HWND tip =
        ::CreateWindowExW(0, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP, CW_USEDEFAULT, CW_USEDEFAULT,
                          CW_USEDEFAULT, CW_USEDEFAULT, tool, nullptr, instance(), nullptr);
    if (tip == nullptr) {
      return nullptr;
    }
    if (maxWidth > 0) {
      ::SendMessageW(tip, TTM_SETMAXTIPWIDTH, 0, maxWidth);
    }
    TOOLINFOW info{};
    info.cbSize = sizeof(info);
    info.hwnd = tool;
    info.uId = static_cast<UINT_PTR>(id);
    ::GetClientRect(tool, &info.rect);
    info.hinst = instance();
    info.lpszText = const_cast<wchar_t*>(text);
    ::SendMessageW(tip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&info));
    ::SendMessageW(tip, TTM_ACTIVATE, TRUE, 0);
    return tip;
  };
  tipInfo_ = create(IDC_STATIC_INFO_ICON, infoTip, 300);
  tipMacUrl1_ = create(IDC_LINK_MAC_URL1, macUrl1_, 0);
  tipMacUrl2_ = create(IDC_LINK_MAC_URL2, macUrl2_, 0);
  tipMacFolder_ = create(IDC_LINK_MAC_FOLDER, webBuildFolder_, 0);
}

bool CtmrovaneDlg::PreTranslateMessage(MSG& message) {
  if (message.message >= WM_MOUSEFIRST && message.message <= WM_MOUSELAST) {
    for (HWND tip : {tipMacUrl1_, tipMacUrl2_, tipMacFolder_, tipInfo_}) {
      if (tip != nullptr) {
        ::SendMessageW(tip, TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&message));
      }
    }
  }
  return message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE;
}

void CtmrovaneDlg::OnDestroyed() {
  // The tooltips went with the dialog; the font outlives the controls that used it.
  tipMacUrl1_ = tipMacUrl2_ = tipMacFolder_ = tipInfo_ = nullptr;
  font_.reset();
}

void CtmrovaneDlg::GetBuildOptions(BuildOptions& options) const {
  options.packageIndex = Selection(IDC_CMB_PACKAGE);
  options.platformIndex = Selection(IDC_CMB_OSPLATFORM);
  options.setupTypeIndex = Selection(IDC_CMB_SETUPTYPE);
  options.antivirusIndex = Selection(IDC_CMB_ANTIVIRUS);
  options.validityChecked = IsChecked(IDC_CHECK_VALIDITY);
  options.validityIndex = Selection(IDC_CMB_VALIDITY);
  wchar_t destination[kPathCapacity] = L"";
  ::GetDlgItemTextW(hwnd(), IDC_EDIT_DESTINATION, destination, static_cast<int>(kPathCapacity));
  options.destination = destination;
  options.alternateConnection = IsChecked(IDC_CHECK_ALT_CONNECTION);
  options.alternateByDomainName = IsChecked(IDC_RADIO_DOMAINNAME);
  options.alternateIp = Text(IDC_IPADDRESS);
  options.alternateDomain = Text(IDC_EDIT_DOMAINNAME);
  options.installFolder = installFolder_;
  options.webBuildFolder = webBuildFolder_;
  options.groupName = groupName_;
  options.groupGuid = groupGuid_;
  options.installationMode = installationMode_;
}

void CtmrovaneDlg::CloseAsCancel() {
  closing_ = true;
  EndDialog(IDCANCEL);
}

INT_PTR CtmrovaneDlg::OnBnClickedBtnClose(WPARAM, LPARAM) {
  CloseAsCancel();
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnClose(WPARAM, LPARAM) {
  // A close in the middle of a build would leave its working folder behind.
  if (creating_) {
    return TRUE;
  }
  CloseAsCancel();
  return TRUE;
}

bool CtmrovaneDlg::ServerFound(const wchar_t* tag) {
  if (installation::IsInstallFolderFound(installFolder_)) {
    return true;
  }
  TraceLog(tracelog::kLevelError, tag, L"Server installation folder not found: %s", installFolder_);
  wchar_t text[kTextCapacity];
  LoadUiText(uitext::kErrCreateSetup, text);
  Prompt().Show(text, MB_OK | MB_ICONERROR);
  return false;
}

// Send Mail reads the choices as they are now, not what an earlier Create used.
INT_PTR CtmrovaneDlg::OnBnClickedBtnSend(WPARAM, LPARAM) {
  if (!ServerFound(L"CtmrovaneDlg::OnBnClickedBtnSend")) {
    return TRUE;
  }
  // The same snapshot of the choices that Create takes.
  BuildOptions options;
  GetBuildOptions(options);
  buildKind_ = mail::SendSetupByMail(mail::RequestFor(options), Prompt());
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedBtnBrowse(WPARAM, LPARAM) {
  wchar_t folder[kPathCapacity];
  if (BrowseForFolder(hwnd(), folder)) {
    SetText(IDC_EDIT_DESTINATION, folder);
  }
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnBnClickedBtnBrowsegroup(WPARAM, LPARAM) {
  CSelectGroupDlg dialog(instance(), Prompt());
  TraceLog(tracelog::kLevelError, kBrowseGroupTag, L"called");
  dialog.SetPreselectedGroupId(currentGroupId_);
  // Owned by this dialog, which stays disabled while the group dialog is open.
  const INT_PTR result = dialog.DoModal(hwnd());
  if (result == -1) {
    TraceLog(tracelog::kLevelError, kBrowseGroupTag, L"Unable to create SelectGroup Dialog box.");
    return TRUE;
  }
  // Without a chosen group (nothing selected, or a GUID that did not convert) the current
  // group, name and GUID stay. The current group ID stays the default group's either way.
  if (result == IDOK && dialog.GetSelectedGroupInfo(groupName_, kPathCapacity, groupGuid_, kGuidCapacity)) {
    SetText(IDC_EDIT_GROUP, groupName_);
  }
  TraceLog(tracelog::kLevelError, kBrowseGroupTag, L"success");
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnSysCommand(WPARAM wParam, LPARAM) {
  if ((wParam & 0xFFF0) == SC_CLOSE && creating_) {
    return TRUE;
  }
  if ((wParam & 0xFFF0) != IDM_ABOUTBOX) {
    return FALSE;
  }
  CAboutDlg about(instance());
  about.DoModal(hwnd());
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnPaint(WPARAM, LPARAM) {
  if (!::IsIconic(hwnd())) {
    return FALSE;
  }
  const fw::ScopedPaint paint(hwnd());
  HDC dc = paint.dc();
  ::SendMessageW(hwnd(), WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  ::GetClientRect(hwnd(), &client);
  const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
  ::DrawIcon(dc, x, y, icon_);
  return TRUE;
}

INT_PTR CtmrovaneDlg::OnQueryDragIcon(WPARAM, LPARAM) { return reinterpret_cast<INT_PTR>(icon_); }

INT_PTR CtmrovaneDlg::OnHelp(WPARAM, LPARAM) { return TRUE; }

void CtmrovaneDlg::SetLink(int id, const wchar_t* target) {
  const bool folder = id == IDC_LINK_MAC_FOLDER || id == IDC_LINK_LINUX_FOLDER;
  Link(id).SetURL(target,
                  folder ? CHyperLink::TargetKind::kLocalFolder : CHyperLink::TargetKind::kWebAddress);
  SetText(id, target);
}

void CtmrovaneDlg::PlaceAfter(int id, int afterId, int x, int y, int width, int height) const {
  ::SetWindowPos(Item(id), Item(afterId), x, y, width, height, SWP_NOACTIVATE);
}
