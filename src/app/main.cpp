// Program entry: no command line, no environment; everything happens in the application object.

#include <windows.h>

#include "app/app.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  RestrictLibrarySearch();
  CtmrovaneApp app(instance);
  return app.Run();
}
