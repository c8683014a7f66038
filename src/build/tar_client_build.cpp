#include "build/tar_client_build.h"

#include <strsafe.h>

#include <cwchar>

#include "build/file_utils.h"
#include "build/tar_format.h"
#include "build/tar_writer.h"
#include "framework/ansi.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

// The ANSI form the writer gives `text`; empty when it has none, which no entry's name matches.
std::string ToAnsi(const std::wstring& text) {
  char buffer[MAX_PATH * 2];
  return fw::ToAnsiExactly(text.c_str(), buffer, static_cast<int>(sizeof(buffer))) > 0 ? std::string(buffer)
                                                                                       : std::string();
}

}  // namespace

bool VerifyTarListing(const wchar_t* tarPath, const wchar_t* folderName,
                      const std::vector<ExpectedTarFile>& files) {
  static const wchar_t kTag[] = L"VerifyTarListing";
  fw::UniqueKernelHandle archive(::CreateFileW(tarPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!archive) {
    TraceLog(tracelog::kLevelError, kTag, L"Cannot open %s", tarPath);
    return false;
  }
  const std::string folderAnsi = ToAnsi(folderName);
  const std::string folder = folderAnsi + "/";
  tarformat::Reader reader(archive.get());
  tarformat::Entry entry;
  if (folderAnsi.empty() || reader.Next(entry) != tarformat::ReadResult::kEntry || entry.name != folder ||
      entry.type != tarformat::kTypeFolder || entry.size != 0) {
    TraceLog(tracelog::kLevelError, kTag, L"%s does not start with the folder entry of %s", tarPath,
             folderName);
    return false;
  }
  std::vector<bool> seen(files.size(), false);
  for (size_t found = 0; found < files.size(); ++found) {
    if (reader.Next(entry) != tarformat::ReadResult::kEntry || entry.type != tarformat::kTypeFile) {
      TraceLog(tracelog::kLevelError, kTag, L"%s: entry %u missing or damaged", tarPath,
               static_cast<unsigned>(found + 1));
      return false;
    }
    size_t index = 0;
    while (index < files.size() && (seen[index] || folder + ToAnsi(files[index].name) != entry.name)) {
      ++index;
    }
    if (index == files.size() || files[index].size != entry.size) {
      TraceLog(tracelog::kLevelError, kTag, L"%s: unexpected entry or size (%llu bytes) at entry %u", tarPath,
               static_cast<unsigned long long>(entry.size), static_cast<unsigned>(found + 1));
      return false;
    }
    seen[index] = true;
  }
  if (reader.Next(entry) != tarformat::ReadResult::kEnd || !reader.EndsExactly()) {
    TraceLog(tracelog::kLevelError, kTag, L"%s: no end marker after the last entry, or more entries",
             tarPath);
    return false;
  }
  return true;
}

bool ComposePath(wchar_t (&out)[MAX_PATH], const wchar_t* bufferName, const wchar_t* tag,
                 std::initializer_list<const wchar_t*> parts) {
  bool first = true;
  for (const wchar_t* part : parts) {
    const HRESULT result =
        first ? ::StringCchCopyW(out, MAX_PATH, part) : ::StringCchCatW(out, MAX_PATH, part);
    if (FAILED(result)) {
      TraceLog(tracelog::kLevelError, tag,
               first ? L"StringCchCopyW(%s) failed, Error:%lu" : L"StringCchCatW(%s) failed, Error:%lu",
               bufferName, static_cast<unsigned long>(result));
      return false;
    }
    first = false;
  }
  return true;
}

bool TarClientBuild::ShowError(const UiText& text) const {
  ui_.Show(TableMessage(text));
  return false;
}

bool TarClientBuild::CheckDiskSpace(const std::wstring& installFolder) const {
  wchar_t root[MAX_PATH];
  if (!ComposePath(root, L"szSetupFolder", tag_, {installFolder.c_str()})) {
    return ShowError(uitext::kErrCreateSetup);
  }
  if (wchar_t* slash = wcschr(root, L'\\')) {
    slash[1] = L'\0';
  }
  if (!IsDiskSpaceAvailable(root, kTarBuildRequiredMb)) {
    TraceLog(tracelog::kLevelError, tag_, L"IsDiskSpaceAvailable returns FALSE");
    return ShowError(uitext::kErrDiskSpace);
  }
  return true;
}

bool TarClientBuild::SetPaths(const TarTarget& target) {
  const wchar_t* tarPath = target.tarPath.c_str();
  if (!ComposePath(sourceFolder_, L"szBuildPath", tag_, {target.sourceFolder.c_str()}) ||
      !ComposePath(workingFolder_, L"szBuildPath", tag_, {target.workingFolder.c_str()}) ||
      !ComposePath(tarPath_, L"szBuildPath", tag_, {tarPath}) ||
      !ComposePath(temporaryTarPath_, L"szBuildPath", tag_, {tarPath, kTemporaryTarSuffix}) ||
      !ComposePath(siblingTemporaryTarPath_, L"szBuildPath", tag_,
                   {target.siblingTarPath.c_str(), kTemporaryTarSuffix})) {
    return ShowError(uitext::kErrCreateSetup);
  }
  return true;
}

bool TarClientBuild::ConfirmRebuild() const {
  if (::GetFileAttributesW(tarPath_) == INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  TraceLog(tracelog::kLevelProgress, tag_, L"TAR file already present.");
  return ui_.Ask(BuildQuestion::kRebuildTar);
}

void TarClientBuild::RecoverLeftovers(const wchar_t* folder,
                                      std::initializer_list<const wchar_t*> names) const {
  if (IsLink(folder)) {
    TraceLog(tracelog::kLevelError, tag_, L"%s is a link; nothing is recovered from it", folder);
    return;
  }
  for (const wchar_t* name : names) {
    wchar_t leftover[MAX_PATH];
    wchar_t source[MAX_PATH];
    if (!ComposePath(leftover, L"szSourceFile", tag_, {folder, L"\\", name}) ||
        !ComposePath(source, L"szDestFile", tag_, {sourceFolder_, name}) ||
        ::GetFileAttributesW(leftover) == INVALID_FILE_ATTRIBUTES ||
        ::GetFileAttributesW(source) != INVALID_FILE_ATTRIBUTES) {
      continue;
    }
    if (::MoveFileW(leftover, source)) {
      TraceLog(tracelog::kLevelError, tag_, L"Recovered %s from an interrupted build into %s", leftover,
               source);
    } else {
      TraceLog(tracelog::kLevelError, tag_, L"Cannot recover %s into %s (Error -> %lu)", leftover, source,
               static_cast<unsigned long>(::GetLastError()));
    }
  }
}

bool TarClientBuild::SourceFileExists(const wchar_t* name) const {
  wchar_t path[MAX_PATH];
  return ComposePath(path, L"szBuildPath", tag_, {sourceFolder_, name}) &&
         ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

bool TarClientBuild::RemoveTemporaryTar() const {
  DeleteTemporaryTar(siblingTemporaryTarPath_);
  return DeleteTemporaryTar(temporaryTarPath_) || ShowError(uitext::kErrCreateSetup);
}

bool TarClientBuild::DeleteTemporaryTar(const wchar_t* path) const {
  if (::GetFileAttributesW(path) == INVALID_FILE_ATTRIBUTES) {
    return true;
  }
  ::SetFileAttributesW(path, FILE_ATTRIBUTE_ARCHIVE);
  if (!::DeleteFileW(path)) {
    TraceLog(tracelog::kLevelError, tag_, L"Cannot remove the temporary TAR %s (Error -> %lu)", path,
             static_cast<unsigned long>(::GetLastError()));
    return false;
  }
  // A delete can succeed and leave the file: pending while another program holds it, or (under
  // Wine) on a read-only mount. Its name cannot take the new archive then.
  if (::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES) {
    TraceLog(tracelog::kLevelError, tag_, L"Cannot remove the temporary TAR %s: it is still there", path);
    return false;
  }
  TraceLog(tracelog::kLevelError, tag_, L"Removed the temporary TAR %s of an interrupted build", path);
  return true;
}

bool TarClientBuild::PrepareWorkingFolder() {
  if (!::CreateDirectoryW(workingFolder_, nullptr)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
      TraceLog(tracelog::kLevelError, tag_, L"CreateDirectory failed (Error -> %u)",
               static_cast<unsigned>(error));
      return ShowError(uitext::kErrCreateSetup);
    }
  }
  const DWORD attributes = ::GetFileAttributesW(workingFolder_);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    TraceLog(tracelog::kLevelError, tag_, L"The working folder %s is not a folder", workingFolder_);
    return ShowError(uitext::kErrCreateSetup);
  }
  // Whatever an earlier run left there would otherwise end up in the new archive. A working
  // folder that is a link, or holds one, is refused here: emptying it would reach the target.
  if (!EmptyFolderTree(workingFolder_)) {
    TraceLog(tracelog::kLevelError, tag_, L"Cannot empty the working folder %s", workingFolder_);
    return ShowError(uitext::kErrCreateSetup);
  }
  workingFolderGuard_.Arm(workingFolder_, tag_);
  return true;
}

bool TarClientBuild::WorkingFile(const wchar_t* name, wchar_t (&out)[MAX_PATH]) {
  return ComposePath(out, L"szDestFile", tag_, {workingFolder_, L"\\", name}) || Abort();
}

bool TarClientBuild::CopyIn(const wchar_t* folder, const wchar_t* name, const wchar_t* failureFormat) {
  wchar_t source[MAX_PATH];
  wchar_t target[MAX_PATH];
  if (!ComposePath(source, L"szSourceFile", tag_, {folder, name})) {
    return Abort();
  }
  if (!WorkingFile(name, target)) {
    return false;
  }
  TraceLog(tracelog::kLevelProgress, tag_, L"CopyFile Src (%s), Dst (%s).", source, target);
  if (!::CopyFileW(source, target, FALSE)) {
    TraceLog(tracelog::kLevelError, tag_, failureFormat, static_cast<unsigned long>(::GetLastError()));
    return Abort();
  }
  return true;
}

bool TarClientBuild::MoveIn(const wchar_t* name, const wchar_t* failureFormat) {
  wchar_t source[MAX_PATH];
  wchar_t target[MAX_PATH];
  if (!ComposePath(source, L"szSourceFile", tag_, {sourceFolder_, name})) {
    return Abort();
  }
  if (!WorkingFile(name, target)) {
    return false;
  }
  TraceLog(tracelog::kLevelProgress, tag_, L"MoveFile Src (%s), Dst (%s).", source, target);
  if (!::MoveFileExW(source, target, MOVEFILE_REPLACE_EXISTING)) {
    TraceLog(tracelog::kLevelError, tag_, failureFormat, static_cast<unsigned long>(::GetLastError()));
    return Abort();
  }
  borrowed_.push_back(name);
  return true;
}

bool TarClientBuild::WriteTar(std::initializer_list<const wchar_t*> names, bool consumeBorrowed,
                              const wchar_t* failureFormat) {
  std::vector<ExpectedTarFile> expected;
  for (const wchar_t* name : names) {
    wchar_t path[MAX_PATH];
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!WorkingFile(name, path)) {
      return false;
    }
    if (!::GetFileAttributesExW(path, GetFileExInfoStandard, &data)) {
      TraceLog(tracelog::kLevelError, tag_, L"%s is missing from the working folder", path);
      return Abort();
    }
    expected.push_back({name, (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow});
  }
  const wchar_t* folderName = wcsrchr(workingFolder_, L'\\');
  folderName = folderName != nullptr ? folderName + 1 : workingFolder_;

  TraceLog(tracelog::kLevelProgress, tag_, L"Before creating TAR file. Folder Path (%s), TAR file path (%s)",
           workingFolder_, tarPath_);
  DWORD error = 0;
  bool written = false;
  const bool verified = RunStage(ui_, BuildStage::kWriteTar, [&] {
    written = CreateTarFile(workingFolder_, temporaryTarPath_, &error, [&](uint64_t done, uint64_t total) {
      ui_.Progress(BuildStage::kWriteTar, done, total);
    });
    return written && VerifyTarListing(temporaryTarPath_, folderName, expected);
  });
  if (!written) {
    TraceLog(tracelog::kLevelError, tag_, failureFormat, static_cast<unsigned long>(error));
    return Abort();
  }
  if (!verified) {
    TraceLog(tracelog::kLevelError, tag_, L"The new TAR file %s does not hold the build's files",
             temporaryTarPath_);
    return Abort();
  }
  // Files that go back on success go back before the old archive is replaced, so that a file
  // that cannot go back leaves the previous archive in place too.
  if (!consumeBorrowed && !ReturnBorrowed()) {
    ::DeleteFileW(temporaryTarPath_);
    workingFolderGuard_.Keep();
    return ShowNotReturned();
  }
  DWORD moveError = 0;
  if (!RunStage(ui_, BuildStage::kCommit, [&] {
        const bool moved =
            ::MoveFileExW(temporaryTarPath_, tarPath_, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        moveError = ::GetLastError();
        return moved;
      })) {
    TraceLog(tracelog::kLevelError, tag_, L"Replacing %s with %s failed (Error -> %lu)", tarPath_,
             temporaryTarPath_, static_cast<unsigned long>(moveError));
    return Abort();
  }
  // What stayed borrowed now lives on inside the archive.
  borrowed_.clear();
  return true;
}

bool TarClientBuild::Abort() {
  if (::GetFileAttributesW(temporaryTarPath_) != INVALID_FILE_ATTRIBUTES) {
    ::DeleteFileW(temporaryTarPath_);
  }
  if (!ReturnBorrowed()) {
    // The folder still holds a file of the server's: it stays, and the message says where.
    workingFolderGuard_.Keep();
    return ShowNotReturned();
  }
  ShowError(uitext::kErrCreateSetup);
  return false;
}

bool TarClientBuild::ReturnBorrowed() {
  // Later moves first, so the files go back in the reverse order of their borrowing.
  std::vector<std::wstring> kept;
  for (auto name = borrowed_.rbegin(); name != borrowed_.rend(); ++name) {
    wchar_t working[MAX_PATH];
    wchar_t source[MAX_PATH];
    const bool composed =
        ComposePath(working, L"szSourceFile", tag_, {workingFolder_, L"\\", name->c_str()}) &&
        ComposePath(source, L"szDestFile", tag_, {sourceFolder_, name->c_str()});
    if (composed && ::MoveFileW(working, source)) {
      continue;
    }
    TraceLog(tracelog::kLevelError, tag_, L"MoveFile FAILED For %s (Error -> %lu)", name->c_str(),
             static_cast<unsigned long>(::GetLastError()));
    TraceLog(tracelog::kLevelError, tag_, L"%s stays in %s; the working folder is kept", name->c_str(),
             workingFolder_);
    kept.insert(kept.begin(), *name);
  }
  borrowed_ = kept;
  if (!kept.empty() && notReturned_.empty()) {
    notReturned_ = kept.front();
  }
  return kept.empty();
}

bool TarClientBuild::ShowNotReturned() const {
  ui_.Show(TableMessage(uitext::kErrFileNotReturned, {notReturned_, sourceFolder_, workingFolder_}));
  return false;
}
