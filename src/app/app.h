#pragma once
// The dialog program: the program's services, then the main dialog for as long as it is open.

#include <windows.h>

#include "program/program_services.h"

class CtmrovaneApp : public ProgramServices {
 public:
  using ProgramServices::ProgramServices;

  // Start-up: always returns false (the program ends after the dialog, or as a second instance).
  bool InitInstance();
  // Start-up, the dialog, then the end (ExitInstance); returns the exit code.
  int Run();
};
