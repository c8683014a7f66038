// Stand-in Simple MAPI library for tests and runs without a mail program: MAPISendMail records
// the message it is handed and answers with a chosen result instead of opening a compose window.
//
// Everything goes to "mapi32.journal" beside the library, one line each:
//   load / unload / exit               the library was loaded, freed, or dropped at process end
//   MAPISendMail session=<n> uiparam=<n> flags=<n> reserved=<n>
//   subject=<text>  note=<text>  type=<text>  date=<text>  conversation=<text>
//   message_flags=<n>  originator=<null|set>  recipients=<count>  files=<count>
//   then per counted file: file_flags=<n> file_position=<n> file_path=<text> file_name=<text>
//                          file_type=<null|set>
//   result=<n>
// Texts are the narrow bytes as handed over: printable ASCII as it stands, a backslash doubled,
// CR and LF as \r and \n, any other byte as \xHH; a null pointer is written (null).
//
// The result is the decimal number in "mapi32.result" beside the library; 0 when it is absent.

#include <windows.h>
// After windows.h: the Simple MAPI header uses its types.
#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/standin_files.h"

namespace {

HMODULE g_self = nullptr;

std::wstring BesideLibrary(const wchar_t* name) { return standin::BesideModule(g_self, name); }

void Journal(const std::string& line) { standin::AppendJournal(BesideLibrary(L"mapi32.journal"), line); }

std::string Escaped(const char* text) { return text == nullptr ? "(null)" : standin::JournalEscaped(text); }

std::string Number(unsigned long long value) { return std::to_string(value); }

ULONG ChosenResult() {
  std::string bytes;
  if (!standin::ReadWholeFile(BesideLibrary(L"mapi32.result"), &bytes)) {
    return SUCCESS_SUCCESS;
  }
  return static_cast<ULONG>(std::strtoul(bytes.c_str(), nullptr, 10));
}

void RecordMessage(const MapiMessage& message) {
  Journal("subject=" + Escaped(message.lpszSubject));
  Journal("note=" + Escaped(message.lpszNoteText));
  Journal("type=" + Escaped(message.lpszMessageType));
  Journal("date=" + Escaped(message.lpszDateReceived));
  Journal("conversation=" + Escaped(message.lpszConversationID));
  Journal("message_flags=" + Number(message.flFlags));
  Journal(std::string("originator=") + (message.lpOriginator == nullptr ? "null" : "set"));
  Journal("recipients=" + Number(message.nRecipCount));
  Journal("files=" + Number(message.nFileCount));
  for (ULONG i = 0; i < message.nFileCount && message.lpFiles != nullptr; ++i) {
    const MapiFileDesc& file = message.lpFiles[i];
    Journal("file_flags=" + Number(file.flFlags));
    Journal("file_position=" + Number(file.nPosition));
    Journal("file_path=" + Escaped(file.lpszPathName));
    Journal("file_name=" + Escaped(file.lpszFileName));
    Journal(std::string("file_type=") + (file.lpFileType == nullptr ? "null" : "set"));
  }
}

}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message, FLAGS flags,
                                     ULONG reserved) {
  try {
    Journal("MAPISendMail session=" + Number(session) + " uiparam=" + Number(uiParam) +
            " flags=" + Number(flags) + " reserved=" + Number(reserved));
    if (message == nullptr) {
      Journal("message=(null)");
      return MAPI_E_FAILURE;
    }
    RecordMessage(*message);
    const ULONG result = ChosenResult();
    Journal("result=" + Number(result));
    return result;
  } catch (...) {
    return MAPI_E_INSUFFICIENT_MEMORY;
  }
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    g_self = instance;
    ::DisableThreadLibraryCalls(instance);
    Journal("load");
  } else if (reason == DLL_PROCESS_DETACH) {
    // A null reserved pointer means FreeLibrary; otherwise the process is ending.
    Journal(reserved == nullptr ? "unload" : "exit");
  }
  return TRUE;
}
