#pragma once
// Where the server is installed and what its console configuration says: the App Paths entry
// of the console service, the installation and web build folders derived from it, and the
// keys of the console configuration file.

#include <windows.h>

#include <cstddef>

namespace installation {

inline constexpr size_t kPathCapacity = MAX_PATH;
inline constexpr wchar_t kAppPathsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CNSLSRVC.EXE";
inline constexpr wchar_t kPathValue[] = L"Path";
inline constexpr wchar_t kConfigFolder[] = L"config\\";
inline constexpr wchar_t kConfigFileName[] = L"cnslconf.ini";
inline constexpr wchar_t kConfigSection[] = L"ADMIN_CONSOLE_SECTION";
inline constexpr wchar_t kKeyMacUrl1[] = L"mac_build_url";
inline constexpr wchar_t kKeyMacUrl2[] = L"mac_build_url1";
inline constexpr wchar_t kKeyLinuxUrl1x32[] = L"linux_url1_32";
inline constexpr wchar_t kKeyLinuxUrl2x32[] = L"linux_url2_32";
inline constexpr wchar_t kKeyLinuxUrl1x64[] = L"linux_url1_64";
inline constexpr wchar_t kKeyLinuxUrl2x64[] = L"linux_url2_64";
inline constexpr wchar_t kKeyInstallMode[] = L"hesinstmode";
// hesinstmode 2 (also when missing) hides the alternate connection option; any other value
// offers it and is stored as 1.
inline constexpr int kInstallModeHidden = 2;
inline constexpr int kInstallModeOffered = 1;

// Reads a string value of an opened key into the buffer (capacity in characters). The result is
// always terminated within the buffer; a value whose text and terminator do not fit fails with
// ERROR_MORE_DATA, is traced as cut and leaves the buffer empty. The value's type is not
// checked. Returns the registry's error code.
LONG QueryRegString(HKEY key, const wchar_t* valueName, wchar_t* buffer, size_t capacity);

// Reads one value under HKEY_LOCAL_MACHINE\keyPath into the buffer (emptied first).
bool GetRegValue(const wchar_t* keyPath, const wchar_t* valueName, wchar_t* buffer, size_t capacity);

// The App Paths key of the console service as the version library maps it for this product
// version, or the base key path when the library declines (or answers with a text that does
// not fit, which is traced).
void GetAppPathsKey(wchar_t (&keyPath)[kPathCapacity]);

// The server's installation folder as the registry holds it, always ending with a backslash
// ("\" alone when the lookup fails, or when the folder leaves no room for its backslash). `tag`
// names the caller in the trace.
void FindInstallFolder(wchar_t (&installFolder)[kPathCapacity], const wchar_t* tag);

// True when `installFolder` is an absolute path ("X:\..." or "\\server\share\...") of an
// existing folder. Anything else (the "\" of a failed lookup, a relative or missing folder)
// would resolve the server's folders somewhere else, e.g. under the current drive's root, where
// any user can create them.
bool IsInstallFolderFound(const wchar_t* installFolder);

// The long form of the installation folder, ending with a backslash, followed by "web\build".
// When the long form cannot be had the folder is taken as it stands. A result that does not
// fit is traced and leaves the buffer empty (false).
bool BuildWebBuildFolder(const wchar_t* installFolder, wchar_t (&webBuildFolder)[kPathCapacity]);

// installFolder + "config\cnslconf.ini"; false when it does not fit (traced; the buffer is
// then empty, so that nothing is read from a path cut short).
bool BuildConfigFilePath(const wchar_t* installFolder, wchar_t (&configPath)[kPathCapacity]);

// One key of the console section; empty when missing, when the path is empty, or when the value
// does not fit (traced). Returns the number of characters read.
DWORD ReadConfigString(const wchar_t* configPath, const wchar_t* key, wchar_t (&value)[kPathCapacity]);

// kInstallModeHidden or kInstallModeOffered from the key hesinstmode (hidden for an empty path).
int ReadInstallMode(const wchar_t* configPath);

}  // namespace installation
