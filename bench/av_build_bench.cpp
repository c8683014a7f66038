// av_build_bench SERVER_FOLDER PROGRAM_FOLDER DESTINATION: runs antivirus EXE builds (EXE/32 bit,
// antivirus included, no password) on a laid-out server. The first splits its wall time between
// the child processes (7-Zip and the packer, from their creation to their end, start-up
// included) and the program's own work (everything else); the children are seen through a job
// object that this process and everything it starts belong to. Then builds without and with the
// console's progress reading (7-Zip's progress switch, the children's output read through a
// pipe) take turns, twice each, and the best time of each kind is given. The last setup of each
// kind is kept beside the installer as plain.exe and progress.exe. Prints key=value lines for
// bench/av_build_bench.sh.

#include <windows.h>

#include <cstdio>
#include <map>
#include <string>
#include <thread>

#include "build/create.h"
#include "handles/handles.h"
#include "log/trace_log.h"

namespace {

double Now() {
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Yes to the antivirus question, No to the password; messages go to standard error. With
// `followsProgress` the build reads its children's progress as the console's does, and the
// updates are counted.
class BenchUi final : public IBuildUi {
 public:
  explicit BenchUi(bool followsProgress) : followsProgress_(followsProgress) {}
  void Show(const BuildMessage& message) override {
    fwprintf(stderr, L"shown: %ls\n", message.Format().c_str());
  }
  bool Ask(BuildQuestion question) override { return question == BuildQuestion::kTakesSomeTime; }
  PasswordAnswer AskPassword(passwordfile::Password&) override { return PasswordAnswer::kCancelled; }
  bool FollowsProgress() const override { return followsProgress_; }
  void Progress(BuildStage, uint64_t, uint64_t) override { ++updates_; }
  int updates() const { return updates_; }

 private:
  bool followsProgress_;
  int updates_ = 0;
};

// Wall time during which at least one child ran, from the job's process notifications.
class ChildClock {
 public:
  explicit ChildClock(HANDLE port) : port_(port) {}
  void Run() {
    DWORD message = 0;
    ULONG_PTR key = 0;
    LPOVERLAPPED data = nullptr;
    while (::GetQueuedCompletionStatus(port_, &message, &key, &data, INFINITE)) {
      const double now = Now();
      const auto process = reinterpret_cast<ULONG_PTR>(data);
      if (message == JOB_OBJECT_MSG_NEW_PROCESS && process != ::GetCurrentProcessId()) {
        if (running_++ == 0) {
          since_ = now;
        }
        ++children_;
      } else if ((message == JOB_OBJECT_MSG_EXIT_PROCESS ||
                  message == JOB_OBJECT_MSG_ABNORMAL_EXIT_PROCESS) &&
                 process != ::GetCurrentProcessId() && running_ > 0) {
        if (--running_ == 0) {
          busy_ += now - since_;
        }
      } else if (message == 0 && key == 0) {
        return;  // the end marker posted by the main thread
      }
    }
  }
  double busy() const { return busy_; }
  int children() const { return children_; }

 private:
  HANDLE port_;
  int running_ = 0;
  int children_ = 0;
  double since_ = 0;
  double busy_ = 0;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 4) {
    fwprintf(stderr, L"usage: av_build_bench SERVER_FOLDER PROGRAM_FOLDER DESTINATION\n");
    return 2;
  }
  tracelog::GetSettings().enabled = false;
  fw::UniqueKernelHandle job(::CreateJobObjectW(nullptr, nullptr));
  fw::UniqueKernelHandle port(::CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1));
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{job.get(), port.get()};
  if (!job || !port ||
      !::SetInformationJobObject(job.get(), JobObjectAssociateCompletionPortInformation, &association,
                                 sizeof(association)) ||
      !::AssignProcessToJobObject(job.get(), ::GetCurrentProcess())) {
    fwprintf(stderr, L"cannot watch the children through a job object (%lu)\n", ::GetLastError());
    return 1;
  }
  ChildClock clock(port.get());
  std::thread watcher([&clock] { clock.Run(); });

  BuildOptions options;
  options.installFolder = std::wstring(argv[1]) + L"\\";
  options.webBuildFolder = std::wstring(argv[1]) + L"\\web\\build";
  options.destination = argv[3];
  options.groupGuid = L"{5F0C3E2A-8B1D-4C6F-9A2E-1D3B5C7E9F01}";
  options.installationMode = 1;
  options.antivirusIndex = kAntivirusYes;
  options.setupTypeIndex = kSetupExe32;
  const std::wstring programFolder = std::wstring(argv[2]) + L"\\";
  const std::wstring installer = std::wstring(argv[3]) + L"\\wsnoav32.exe";
  // One build; its wall time, or a negative value when it failed.
  const auto build = [&](BenchUi& ui, const wchar_t* keptAs) {
    const double start = Now();
    const bool built =
        RunCreate(options, ui, programFolder.c_str(), L"av_build_bench").outcome == CreateOutcome::kBuilt;
    const double took = Now() - start;
    if (!built ||
        (keptAs != nullptr &&
         !::CopyFileW(installer.c_str(), (std::wstring(argv[3]) + L"\\" + keptAs).c_str(), FALSE))) {
      return -1.0;
    }
    return took;
  };
  BenchUi first(false);
  const double total = build(first, nullptr);
  // Notifications of the last child's end may still be on their way.
  ::Sleep(500);
  ::PostQueuedCompletionStatus(port.get(), 0, 0, nullptr);
  watcher.join();
  if (total < 0) {
    fwprintf(stderr, L"the build failed\n");
    return 1;
  }
  double plainBest = 0;
  double progressBest = 0;
  int updates = 0;
  for (int round = 0; round < 2; ++round) {
    BenchUi plainUi(false);
    BenchUi progressUi(true);
    const double plain = build(plainUi, L"plain.exe");
    const double progress = build(progressUi, L"progress.exe");
    if (plain < 0 || progress < 0) {
      fwprintf(stderr, L"a build failed\n");
      return 1;
    }
    plainBest = round == 0 || plain < plainBest ? plain : plainBest;
    progressBest = round == 0 || progress < progressBest ? progress : progressBest;
    updates = progressUi.updates();
  }
  wprintf(L"total_seconds=%.3f\nchildren_seconds=%.3f\nchildren=%d\n", total, clock.busy(), clock.children());
  wprintf(L"plain_seconds=%.3f\nprogress_seconds=%.3f\nprogress_updates=%d\n", plainBest, progressBest,
          updates);
  return 0;
}
