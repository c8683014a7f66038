#pragma once
// Drives windows of this thread from inside whatever modal loop runs on it: a script of steps
// run from a timer, and finders for this thread's windows and the dialogs a window owns.

#include <windows.h>

#include <cwchar>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

// Runs the steps of a script one after another from a timer inside whatever modal loop is
// running on this thread. A step that returns false is tried again at the next tick (for
// windows that take a moment to appear), at most for ten seconds.
class TimerScript {
 public:
  using Step = std::function<bool()>;
  explicit TimerScript(std::vector<Step> steps) : steps_(std::move(steps)) {
    current_ = this;
    timer_ = SetTimer(nullptr, 0, 100, &TimerScript::Tick);
  }
  ~TimerScript() {
    KillTimer(nullptr, timer_);
    current_ = nullptr;
  }

 private:
  static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
    TimerScript* self = current_;
    if (self == nullptr || self->busy_ || self->next_ >= self->steps_.size()) {
      return;
    }
    self->busy_ = true;  // a step may run a modal loop of its own
    const bool done = self->steps_[self->next_]() || ++self->tries_ > 100;
    if (done) {
      ++self->next_;
      self->tries_ = 0;
    }
    self->busy_ = false;
  }
  static inline TimerScript* current_ = nullptr;
  std::vector<Step> steps_;
  size_t next_ = 0;
  int tries_ = 0;
  bool busy_ = false;
  UINT_PTR timer_ = 0;
};

// A step that always completes at once.
template <typename F>
TimerScript::Step Do(F action) {
  return [action]() mutable {
    action();
    return true;
  };
}

// The first top-level window of this thread that `matches`, or nullptr.
inline HWND FindThreadWindow(const std::function<bool(HWND)>& matches) {
  struct Search {
    const std::function<bool(HWND)>* matches;
    HWND found;
  } search{&matches, nullptr};
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM data) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        if ((*s->matches)(window)) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// A window of this thread's class #32770 owned by `owner`, other than `owner` itself.
inline HWND FindOwnedDialog(HWND owner) {
  return FindThreadWindow([owner](HWND window) {
    wchar_t className[32] = L"";
    GetClassNameW(window, className, 32);
    return window != owner && wcscmp(className, L"#32770") == 0 && GetWindow(window, GW_OWNER) == owner &&
           IsWindowVisible(window);
  });
}

// The text of a message box (its static text control has ID 0xFFFF).
inline std::wstring MessageBoxText(HWND box) {
  wchar_t text[1024] = L"";
  GetDlgItemTextW(box, 0xFFFF, text, 1024);
  return text;
}

}  // namespace testsupport
