// PelkoLabelSvr.exe: the label service program.

#include <windows.h>

#include "ServiceModule.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  pelko::CPelkoLabelSvrModule module;
  return module.Run(GetCommandLineW());
}
