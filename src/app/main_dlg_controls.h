#pragma once
// The groups of main dialog controls that are shown and hidden together, and the setup type
// lists, shared by the dialog's start-up and its option handlers.

#include <span>

#include "app/resource.h"

namespace maindlg {

// The Mac notes, the closing note last.
inline constexpr int kMacNotes[] = {IDC_STATIC_MAC_NOTE1, IDC_LINK_MAC_URL1,   IDC_LINK_MAC_URL2,
                                    IDC_STATIC_MAC_NOTE2, IDC_LINK_MAC_FOLDER, IDC_STATIC_CLOSING_NOTE};
// The Mac notes without the closing note, which the Linux notes share.
inline constexpr std::span<const int> kMacNotesButClosing =
    std::span(kMacNotes).first(std::size(kMacNotes) - 1);
inline constexpr int kLinuxNotes[] = {IDC_STATIC_LINUX_NOTE1, IDC_LINK_LINUX_URL1, IDC_STATIC_LINUX_NOTE2,
                                      IDC_LINK_LINUX_FOLDER, IDC_LINK_LINUX_URL2};

// The setup type lists of the Windows and the Linux platform.
inline constexpr const wchar_t* kWindowsSetupTypes[] = {L"EXE/32 bit", L"EXE/64 bit", L"MSI/32 bit",
                                                        L"MSI/64 bit"};
inline constexpr const wchar_t* kLinuxSetupTypes[] = {L"32 bit", L"64 bit"};

}  // namespace maindlg
