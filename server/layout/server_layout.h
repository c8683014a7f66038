#pragma once
// Lays out a complete stand-in server installation into a folder: what the Client Packager
// reads, copies and runs, with recognisable content, and optionally registers it the way the
// server's 32-bit setup does (HKLM App Paths of CNSLSRVC.EXE, value "Path", through the 32-bit
// registry view).
//
// Usage from a test (link the static library `serverlayout`; its build brings every built
// component along):
//
//   serverlayout::Options options;
//   options.serverFolder = dir.path() + L"\\Server";
//   options.hesinstmode = std::nullopt;                      // key absent
//   options.omit = {L"Web\\Build\\MACHOST.DMG"};              // leave a file out
//   serverlayout::Result result;
//   ASSERT_TRUE(serverlayout::LayOutServer(options, &result)) << result.error;
//
// The built files it copies (libraries, pack.exe, tmrovane.exe, template.msi, SFX module,
// Linux package archives) are taken from the folder of the running program, where the build
// puts every output (data files under its "serverfiles" sub-folder). Existing files are
// overwritten; files already in the folders and not laid out stay. Nothing is deleted except
// the registration when asked (Registration::kRemove).
//
// What it lays out, relative to the server folder S (P is the program folder):
//   S\grpstore.dll, S\groups.txt               group library and its data (kGroupDataFile);
//                                              S\grpstore.fail when failingGroupCalls is not empty
//   S\cnsldata.dll, S\serverdata.txt, S\serverdata_1_1_3.bin
//                                              data library and its data; S\cnsldata.fail
//                                              when failingDataCalls is not empty
//   S\config\cnslconf.ini                      [ADMIN_CONSOLE_SECTION]: download addresses and
//                                              hesinstmode; ASCII
//   S\Web\Build\  NODESETP.EXE NDSETP64.EXE tmhostsv.exe tmhost64.exe purge.exe (agent
//                 payload, some MB each), wsnode.ini (UTF-16LE with BOM: [SETTING], [UPDATE],
//                 [AGENT]), nodedef.ini, macndef.ini, pkgplan.ini (ASCII), MWSNODE.DMG,
//                 MACHOST.DMG, cnmac\ (empty)
//   S\Web\Build\heslin32\ and heslin64\  heslin32.tar.gz / heslin64.tar.gz (real gzip'd TAR),
//                 wsnode.ini (ASCII), readme.txt, install (sh script, LF line ends)
//   S\Tools\clPacker\     pack.exe, 7z.sfx, template.msi, netkit.dll, regshim.dll,
//                 msvcr90.dll, Microsoft.VC90.CRT.manifest, Deploy.exe, sysprobe.dll,
//                 verkit.dll (real), build.cnf, nodehelp.dll, instctl.dll, afterins.exe
//   S\Tools\clPacker\64\  the same without the four Minimal runtime files, plus uistr.dll (real)
//   P (default S\ClientPackager): tmrovane.exe, tmrovane.com, uistr.dll, verkit.dll, clPacker\ (empty), the
//                 test MAPI32.dll that records the mail it is handed (mapi32.cpp), and
//                 verkit.ini ([Version] Product=productVersion) unless productVersion is nullopt
//   S\success.ff, P\success.ff                 when successFF: the libraries beside them return
//                                              0xFF for success instead of 1
//
// With a product version, the program's version library derives versioned names from it (the
// mutex name, the App Paths key: "<base>_<version>"), and the registration goes to the key it
// derives, so that the program finds its server by the normal start-up path.
//
// The payload EXEs and DLLs other than verkit.dll and uistr.dll are not programs: each starts
// with the line "Halvane Endpoint Security stand-in payload: <path relative to S>".
// Sizes that matter: tmhostsv.exe is 3 MB and a bit (pack size parameter 21), tmhost64.exe
// 4 MB and a bit (23).

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace serverlayout {

inline constexpr wchar_t kAppPathsKey[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\CNSLSRVC.EXE";
inline constexpr wchar_t kPathValue[] = L"Path";
inline constexpr wchar_t kProgramSubfolder[] = L"ClientPackager";
inline constexpr wchar_t kDefaultProductVersion[] = L"10.5";
inline constexpr wchar_t kVersionFile[] = L"verkit.ini";

// Files of the server folder that tests edit (names relative to the server folder).
inline constexpr wchar_t kGroupDataFile[] = L"groups.txt";            // see grpstore.cpp for its format
inline constexpr wchar_t kGroupSwitchFile[] = L"grpstore.fail";       // export names that fail
inline constexpr wchar_t kGroupJournalFile[] = L"grpstore.journal";   // one line per call/load/unload
inline constexpr wchar_t kDataFile[] = L"serverdata.txt";             // see cnsldata.cpp for its format
inline constexpr wchar_t kDataBlockFile[] = L"serverdata_1_1_3.bin";  // the 5206-byte block
inline constexpr wchar_t kDataSwitchFile[] = L"cnsldata.fail";        // export names that fail
inline constexpr wchar_t kDataJournalFile[] = L"cnsldata.journal";    // one line per call/load/unload
inline constexpr wchar_t kConsoleConfigFile[] = L"config\\cnslconf.ini";

enum class Registration {
  kLongPath,   // "Path" = the server folder in its long form
  kShortPath,  // "Path" = the server folder in its short (8.3) form
  kNone,       // the registry is not touched
  kRemove,     // the App Paths key is deleted (a server that is not registered)
  kKeyOnly,    // the App Paths key exists without a "Path" value
};

struct Options {
  // Required. Created with its parents when missing.
  std::wstring serverFolder;
  // Empty: serverFolder + "\ClientPackager".
  std::wstring programFolder;
  bool layOutProgram = true;

  // Written into the program folder's verkit.ini; nullopt: no verkit.ini, so the version library
  // declines and the program uses its base names. Only laid out with the program.
  std::optional<std::wstring> productVersion = kDefaultProductVersion;

  Registration registration = Registration::kLongPath;
  bool trailingBackslash = true;  // of the registered "Path" value
  // Empty: the key the laid-out program looks up, the App Paths key as the version library
  // derives it when the program is laid out with a product version, the base key otherwise.
  std::wstring registryKey;

  // The libraries return 0xFF for success instead of 1 (S\success.ff and P\success.ff).
  bool successFF = false;

  // Value of hesinstmode in config\cnslconf.ini, written as it stands; nullopt: key absent.
  std::optional<std::wstring> hesinstmode = L"1";
  // Content of groups.txt (bytes as they are written); nullopt: DefaultGroupData(). See
  // GroupData() for ready-made trees.
  std::optional<std::string> groupData;
  // Export names that fail on demand, written into grpstore.fail and cnsldata.fail (one name a
  // line); empty: no switch file. A test may also write or delete these files at any time:
  // both libraries read them on every call.
  std::vector<std::string> failingGroupCalls;
  std::vector<std::string> failingDataCalls;
  // Built files installed as grpstore.dll and cnsldata.dll, e.g. L"cnsldata_no_GetDataByType.dll"
  // or L"grpstore_no_FreeGroupArray.dll" (every variant lacks the one export it names).
  std::wstring grpstoreLibrary = L"grpstore.dll";
  std::wstring cnsldataLibrary = L"cnsldata.dll";

  // Paths to leave out, relative to the server folder ("Web\\Build\\MACHOST.DMG"), or to the
  // program folder for omitProgramFiles ("uistr.dll"). A folder leaves out all below it.
  // Case-insensitive.
  std::vector<std::wstring> omit;
  std::vector<std::wstring> omitProgramFiles;

  // Folder of the built files to lay out; empty: the folder of the running module. A 64-bit
  // layout tool lays out the 32-bit build this way.
  std::wstring builtFolder;

  // What the administrator downloads for the Mac and Linux builds: the disk images MWSNODE.DMG
  // and MACHOST.DMG and the package archives heslin32.tar.gz and heslin64.tar.gz. false leaves
  // them out, as on a server where nothing was downloaded yet.
  bool layOutDownloads = true;
  // Size of each disk image in bytes; 0: the default sizes (1 MB and 2 MB and a bit).
  uint64_t diskImageBytes = 0;
};

struct Result {
  std::wstring serverFolder;    // long form, no trailing backslash
  std::wstring programFolder;   // long form, no trailing backslash; empty when not laid out
  std::wstring registeredPath;  // the "Path" value written; empty when none was
  std::wstring registryKey;     // the key registered, emptied or removed; empty for kNone
  std::wstring error;           // what failed, when LayOutServer returns false
};

// Lays out the installation and handles the registration as the options say. False (with
// result->error) at the first failure; what was laid out until then stays.
bool LayOutServer(const Options& options, Result* result);

// The default group tree: the default group (ID 1) and a few groups at three levels.
std::string DefaultGroupData();

// Group trees for groups.txt, each delivered in file order.
enum class GroupTree {
  kStandard,        // DefaultGroupData()
  kDeep,            // the default group nine levels down, below many top-level groups
  kSubGroupFirst,   // a sub-group delivered before its parent (itself a sub-group), one after it
  kDuplicateNames,  // two top-level groups and two sub-groups with the same names
  kNone,            // no groups at all (not even the default group)
  kFolderNames,     // names that are no folder names as they stand: non-ASCII, a backslash, a
                    // reserved character, a device name, two that differ only in case and a
                    // trailing dot, one without a valid GUID
};
std::string GroupData(GroupTree tree);

// The GUID text of the default group in DefaultGroupData().
inline constexpr char kDefaultGroupGuid[] = "{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";

}  // namespace serverlayout
