#pragma once
// The main dialog: the program's only window. Its controls hold the administrator's choices;
// its fields hold what start-up found on the server (installation folder, web build folder,
// download addresses, installation mode, default group).

#include <windows.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "controls/hyperlink.h"
#include "controls/tt_combo_box.h"
#include "framework/dialog.h"
#include "framework/prompt.h"
#include "groups/group_library.h"
#include "handles/handles.h"
#include "installation/server_paths.h"
#include "options/build_options.h"

class CtmrovaneDlg : public fw::Dialog {
 public:
  static constexpr size_t kPathCapacity = installation::kPathCapacity;
  static constexpr size_t kGuidCapacity = groups::kGuidCapacity;
  static constexpr size_t kTextCapacity = 1024;

  // Message boxes go to real message boxes with the application title as caption.
  explicit CtmrovaneDlg(HINSTANCE instance);
  // Message boxes go to `prompt` (tests script them).
  CtmrovaneDlg(HINSTANCE instance, fw::IUserPrompt& prompt);

  // A snapshot of the build options: the controls' current state and the fields.
  void GetBuildOptions(BuildOptions& options) const;

  const wchar_t* groupGuid() const { return groupGuid_; }
  const wchar_t* installFolder() const { return installFolder_; }
  const wchar_t* webBuildFolder() const { return webBuildFolder_; }
  int installationMode() const { return installationMode_; }
  // The kind of the build last created or mailed.
  BuildKind buildKind() const { return buildKind_; }

 protected:
  std::span<const MapEntry> MessageMap() const override;
  BOOL OnInitDialog() override;
  // Escape never closes the dialog; only Close, the close box and a failed start do.
  void OnCancel() override {}
  bool PreTranslateMessage(MSG& message) override;
  void OnDestroyed() override;

 private:
  // Initialisation steps.
  void ApplyFixedLayout();
  void SetControlTexts(wchar_t* infoTip, size_t infoTipCapacity);
  void ReadDownloadAddresses(const wchar_t* configPath);
  void ApplyInstallationMode(const wchar_t* configPath);
  void AttachControls();
  void FillCombos();
  void ApplyDialogFont();
  void CreateTooltips(const wchar_t* infoTip);
  void GetDefaultGUID(wchar_t* guid, int capacity);

  // Window messages and buttons (main_dlg.cpp).
  INT_PTR OnBnClickedBtnClose(WPARAM, LPARAM);
  INT_PTR OnBnClickedBtnBrowse(WPARAM, LPARAM);
  INT_PTR OnBnClickedBtnBrowsegroup(WPARAM, LPARAM);
  INT_PTR OnBnClickedBtnSend(WPARAM, LPARAM);
  INT_PTR OnClose(WPARAM, LPARAM);
  INT_PTR OnSysCommand(WPARAM, LPARAM);
  INT_PTR OnPaint(WPARAM, LPARAM);
  INT_PTR OnQueryDragIcon(WPARAM, LPARAM);
  INT_PTR OnHelp(WPARAM, LPARAM);

  // Create (main_dlg_create.cpp).
  class BuildUi;
  INT_PTR OnBnClickedBtnCreate(WPARAM, LPARAM);

  // Option handlers (main_dlg_options.cpp).
  INT_PTR OnCbnSelchangeCmbPackage(WPARAM, LPARAM);
  INT_PTR OnCbnSelchangeCmbOsplatform(WPARAM, LPARAM);
  INT_PTR OnCbnSelchangeCmbSetuptype(WPARAM, LPARAM);
  INT_PTR OnBnClickedCheckValidity(WPARAM, LPARAM);
  INT_PTR OnCbnSelchangeCmbAntivirus(WPARAM, LPARAM);
  INT_PTR OnBnClickedCheckAltConnection(WPARAM, LPARAM);
  INT_PTR OnBnClickedRadioIpaddress(WPARAM, LPARAM);
  INT_PTR OnBnClickedRadioDomainname(WPARAM, LPARAM);

  // A link's text and the target it opens.
  void SetLink(int id, const wchar_t* target);
  // Fills the setup type combo with `items` and selects entry `selection`.
  void FillSetupType(std::span<const wchar_t* const> items, int selection) const;
  // The console configuration file as start-up built it; one that did not fit is traced under
  // `tag` and is empty, so nothing is read from it.
  const wchar_t* ConfigPath(const wchar_t* tag) const;
  void PlaceAfter(int id, int afterId, int x, int y, int width, int height) const;
  // Reads one console configuration key into a link; an empty read is traced under `tag`.
  void LinkConfigKey(int id, const wchar_t* configPath, const wchar_t* key, const wchar_t* tag);
  void UpdateSendMail() const;
  // Ends the dialog as Cancel would if it did not ignore Escape.
  void CloseAsCancel();
  // True when the server's installation folder was found; otherwise shows "Error in creating
  // setup" (traced under `tag`): Create and Send Mail then do nothing else.
  bool ServerFound(const wchar_t* tag);

  fw::IUserPrompt& Prompt();

  fw::IUserPrompt* externalPrompt_ = nullptr;
  std::optional<fw::MessageBoxPrompt> ownPrompt_;
  wchar_t title_[kPathCapacity] = {};
  bool closing_ = false;
  bool creating_ = false;  // a build runs: the dialog cannot be closed

  // The six links in the order of kLinkIds (main_dlg.cpp).
  CHyperLink links_[6];
  CHyperLink& Link(int id);
  CTTComboBox packageCombo_;
  fw::UniqueFont font_;
  // Tooltip windows, not owned: each is a child of its control and goes with the dialog.
  HWND tipMacUrl1_ = nullptr;
  HWND tipMacUrl2_ = nullptr;
  HWND tipMacFolder_ = nullptr;
  HWND tipInfo_ = nullptr;
  HICON icon_ = nullptr;  // shared resource icon: not owned

  wchar_t groupName_[kPathCapacity] = {};
  wchar_t groupGuid_[kGuidCapacity] = {};
  uint16_t currentGroupId_ = kDefaultGroupId;
  wchar_t installFolder_[kPathCapacity] = {};
  wchar_t configPath_[kPathCapacity] = {};
  wchar_t macUrl1_[kPathCapacity] = {};
  wchar_t macUrl2_[kPathCapacity] = {};
  wchar_t webBuildFolder_[kPathCapacity] = {};
  int installationMode_ = 0;
  // What the last Create derived: the validated alternate address; and the kind of the last
  // Create or Send Mail.
  BuildKind buildKind_ = BuildKind::WinExeAgent;
};
