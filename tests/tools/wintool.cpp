// Drives top-level windows of the Wine session from scripts:
//   wintool wait <title> [seconds]   waits until a window with that title exists (exit 0) or not (1)
//   wintool close <title>            posts WM_CLOSE to it (exit 0) or finds none (1)
//   wintool gone <title> [seconds]   waits until no such window remains (exit 0) or times out (1)
//   wintool select <title> <id> <index>
//                                    selects item <index> of the combo box <id> in that window and
//                                    tells the window, as a selection by the user does (exit 0)
//   wintool click <title> <id>       clicks the button <id> in that window (exit 0)
//   wintool press <title> <id>       posts a click of the button <id> to the dialog of that title
//                                    and returns at once, while its handler runs (exit 0)
//   wintool settext <title> <id> <text>
//                                    sets the text of the control <id> of that dialog
//                                    (press and settext prefer the dialog without owner, the main
//                                    window, over a message box of the same title)
//   wintool answer <title> <button> [seconds]
//                                    waits for a message box or dialog of that title owned by
//                                    another window, prints its message text and ends it with
//                                    the button ID (1 OK, 2 Cancel, 6 Yes, 7 No) (exit 0)
//   wintool hold                     keeps the session's desktop in use until it is ended: Wine
//                                    closes a desktop a second after its last program ends, and
//                                    a program that starts just then may find no desktop to
//                                    open its windows on

#include <windows.h>

#include <cstdio>
#include <cwchar>

namespace {

HWND Find(const wchar_t* title) { return FindWindowW(nullptr, title); }

// A visible dialog window of that title: the one without an owner, or one owned by another.
HWND FindDialog(const wchar_t* title, bool owned) {
  struct Search {
    const wchar_t* title;
    bool owned;
    HWND found;
  } search{title, owned, nullptr};
  EnumWindows(
      [](HWND window, LPARAM data) CALLBACK -> BOOL {
        auto* s = reinterpret_cast<Search*>(data);
        wchar_t className[32] = L"";
        wchar_t text[256] = L"";
        GetClassNameW(window, className, 32);
        GetWindowTextW(window, text, 256);
        if (wcscmp(className, L"#32770") == 0 && wcscmp(text, s->title) == 0 && IsWindowVisible(window) &&
            (GetWindow(window, GW_OWNER) != nullptr) == s->owned) {
          s->found = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

HWND FindMainOrOwned(const wchar_t* title) {
  HWND main = FindDialog(title, false);
  return main != nullptr ? main : FindDialog(title, true);
}

int WaitFor(const wchar_t* title, double seconds, bool present) {
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(seconds * 1000);
  for (;;) {
    if ((Find(title) != nullptr) == present) {
      return 0;
    }
    if (GetTickCount64() > deadline) {
      return 1;
    }
    Sleep(50);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && wcscmp(argv[1], L"hold") == 0) {
    GetDesktopWindow();
    Sleep(INFINITE);
  }
  if (argc < 3) {
    fwprintf(stderr,
             L"usage: wintool wait|close|gone <title> [seconds] | select <title> <id> <index> | click|press "
             L"<title> <id> | settext <title> <id> <text> | answer <title> <button> [seconds] | hold\n");
    return 2;
  }
  const double seconds = argc > 3 ? _wtof(argv[3]) : 30.0;
  if (wcscmp(argv[1], L"wait") == 0) {
    return WaitFor(argv[2], seconds, true);
  }
  if (wcscmp(argv[1], L"gone") == 0) {
    return WaitFor(argv[2], seconds, false);
  }
  if (wcscmp(argv[1], L"select") == 0 && argc == 5) {
    HWND window = Find(argv[2]);
    HWND combo = window != nullptr ? GetDlgItem(window, _wtoi(argv[3])) : nullptr;
    if (combo == nullptr || SendMessageW(combo, CB_SETCURSEL, _wtoi(argv[4]), 0) == CB_ERR) {
      return 1;
    }
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), CBN_SELCHANGE),
                 reinterpret_cast<LPARAM>(combo));
    return 0;
  }
  if (wcscmp(argv[1], L"click") == 0 && argc == 4) {
    HWND window = Find(argv[2]);
    HWND button = window != nullptr ? GetDlgItem(window, _wtoi(argv[3])) : nullptr;
    if (button == nullptr) {
      return 1;
    }
    SendMessageW(button, BM_CLICK, 0, 0);
    return 0;
  }
  if (wcscmp(argv[1], L"press") == 0 && argc == 4) {
    HWND window = FindMainOrOwned(argv[2]);
    HWND button = window != nullptr ? GetDlgItem(window, _wtoi(argv[3])) : nullptr;
    return button != nullptr && PostMessageW(window, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), BN_CLICKED),
                                             reinterpret_cast<LPARAM>(button))
               ? 0
               : 1;
  }
  if (wcscmp(argv[1], L"settext") == 0 && argc == 5) {
    HWND window = FindMainOrOwned(argv[2]);
    HWND control = window != nullptr ? GetDlgItem(window, _wtoi(argv[3])) : nullptr;
    return control != nullptr && SendMessageW(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4])) ? 0
                                                                                                         : 1;
  }
  if (wcscmp(argv[1], L"answer") == 0 && argc >= 4) {
    const ULONGLONG deadline =
        GetTickCount64() + static_cast<ULONGLONG>((argc > 4 ? _wtof(argv[4]) : 30.0) * 1000);
    HWND box = nullptr;
    while ((box = FindDialog(argv[2], true)) == nullptr) {
      if (GetTickCount64() > deadline) {
        return 1;
      }
      Sleep(100);
    }
    wchar_t text[2048] = L"";
    GetDlgItemTextW(box, 0xFFFF, text, 2048);  // a message box's text control
    wprintf(L"%ls\n", text);
    fflush(stdout);
    return PostMessageW(box, WM_COMMAND, MAKEWPARAM(_wtoi(argv[3]), BN_CLICKED), 0) ? 0 : 1;
  }
  if (wcscmp(argv[1], L"close") == 0) {
    HWND window = Find(argv[2]);
    return window != nullptr && PostMessageW(window, WM_CLOSE, 0, 0) ? 0 : 1;
  }
  fwprintf(stderr, L"unknown command\n");
  return 2;
}
