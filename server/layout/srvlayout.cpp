// Lays out the stand-in server installation from a script:
//
//   srvlayout.exe SERVER_FOLDER [--program DIR | --no-program]
//                 [--register long|short|none|remove|key-only] [--no-trailing-backslash]
//                 [--hesinstmode VALUE | --no-hesinstmode]
//                 [--groups FILE | --group-tree standard|deep|subgroup-first|duplicates|folder-names|none]
//                 [--omit PATH]... [--omit-program PATH]... [--fail CALL]... [--fail-group CALL]...
//                 [--grpstore BUILT_DLL] [--cnsldata BUILT_DLL] [--built DIR]
//                 [--version VERSION | --no-version] [--success-ff]
//                 [--no-downloads | --disk-image-mb MB]
//
// Paths are Windows paths. Prints the folders laid out and the registered path; exit code 0
// on success, 1 for bad arguments, 2 when the layout failed.

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <string>

#include "common/standin_files.h"
#include "layout/server_layout.h"

namespace {

constexpr wchar_t kUsage[] =
    L"usage: srvlayout.exe SERVER_FOLDER [--program DIR | --no-program]\n"
    L"         [--register long|short|none|remove|key-only] [--no-trailing-backslash]\n"
    L"         [--hesinstmode VALUE | --no-hesinstmode]\n"
    L"         [--groups FILE | --group-tree standard|deep|subgroup-first|duplicates|folder-names|none]\n"
    L"         [--omit PATH]... [--omit-program PATH]... [--fail CALL]... [--fail-group CALL]...\n"
    L"         [--grpstore BUILT_DLL] [--cnsldata BUILT_DLL] [--built DIR]\n"
    L"         [--version VERSION | --no-version] [--success-ff]\n"
    L"         [--no-downloads | --disk-image-mb MB]\n";

bool Parse(int argc, wchar_t** argv, serverlayout::Options* options) {
  if (argc < 2 || argv[1][0] == L'-') {
    return false;
  }
  options->serverFolder = argv[1];
  for (int i = 2; i < argc; ++i) {
    const std::wstring option = argv[i];
    const bool hasValue = i + 1 < argc;
    if (option == L"--no-program") {
      options->layOutProgram = false;
    } else if (option == L"--no-trailing-backslash") {
      options->trailingBackslash = false;
    } else if (option == L"--no-downloads") {
      options->layOutDownloads = false;
    } else if (option == L"--no-hesinstmode") {
      options->hesinstmode.reset();
    } else if (option == L"--no-version") {
      options->productVersion.reset();
    } else if (option == L"--success-ff") {
      options->successFF = true;
    } else if (!hasValue) {
      return false;
    } else {
      const std::wstring value = argv[++i];
      if (option == L"--program") {
        options->programFolder = value;
      } else if (option == L"--register") {
        if (value == L"long") {
          options->registration = serverlayout::Registration::kLongPath;
        } else if (value == L"short") {
          options->registration = serverlayout::Registration::kShortPath;
        } else if (value == L"none") {
          options->registration = serverlayout::Registration::kNone;
        } else if (value == L"remove") {
          options->registration = serverlayout::Registration::kRemove;
        } else if (value == L"key-only") {
          options->registration = serverlayout::Registration::kKeyOnly;
        } else {
          return false;
        }
      } else if (option == L"--hesinstmode") {
        options->hesinstmode = value;
      } else if (option == L"--groups") {
        std::string bytes;
        if (!standin::ReadWholeFile(value, &bytes)) {
          fwprintf(stderr, L"srvlayout: cannot read %ls\n", value.c_str());
          return false;
        }
        options->groupData = bytes;
      } else if (option == L"--group-tree") {
        const struct {
          const wchar_t* name;
          serverlayout::GroupTree tree;
        } trees[] = {
            {L"standard", serverlayout::GroupTree::kStandard},
            {L"deep", serverlayout::GroupTree::kDeep},
            {L"subgroup-first", serverlayout::GroupTree::kSubGroupFirst},
            {L"duplicates", serverlayout::GroupTree::kDuplicateNames},
            {L"folder-names", serverlayout::GroupTree::kFolderNames},
            {L"none", serverlayout::GroupTree::kNone},
        };
        const auto* found = std::find_if(std::begin(trees), std::end(trees),
                                         [&](const auto& entry) { return value == entry.name; });
        if (found == std::end(trees)) {
          return false;
        }
        options->groupData = serverlayout::GroupData(found->tree);
      } else if (option == L"--omit") {
        options->omit.push_back(value);
      } else if (option == L"--omit-program") {
        options->omitProgramFiles.push_back(value);
      } else if (option == L"--fail") {
        options->failingDataCalls.push_back(standin::ToUtf8(value));
      } else if (option == L"--fail-group") {
        options->failingGroupCalls.push_back(standin::ToUtf8(value));
      } else if (option == L"--grpstore") {
        options->grpstoreLibrary = value;
      } else if (option == L"--cnsldata") {
        options->cnsldataLibrary = value;
      } else if (option == L"--built") {
        options->builtFolder = value;
      } else if (option == L"--version") {
        options->productVersion = value;
      } else if (option == L"--disk-image-mb") {
        options->diskImageBytes = wcstoull(value.c_str(), nullptr, 10) * 1024 * 1024;
      } else {
        return false;
      }
    }
  }
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  serverlayout::Options options;
  if (!Parse(argc, argv, &options)) {
    fputws(kUsage, stderr);
    return 1;
  }
  serverlayout::Result result;
  if (!serverlayout::LayOutServer(options, &result)) {
    fwprintf(stderr, L"srvlayout: %ls\n", result.error.c_str());
    return 2;
  }
  wprintf(L"Server folder: %ls\n", result.serverFolder.c_str());
  if (!result.programFolder.empty()) {
    wprintf(L"Program folder: %ls\n", result.programFolder.c_str());
  }
  if (!result.registeredPath.empty()) {
    wprintf(L"Registered Path: %ls\n", result.registeredPath.c_str());
    wprintf(L"Registry key: HKLM\\%ls\n", result.registryKey.c_str());
  }
  return 0;
}
