// PelkoLabelSvr.exe: the label service program.

#include <windows.h>

#include "ServiceModule.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  pelko::CPelkoLabelSvrModule module;
  const int result = module.Run(GetCommandLineW());
  // A worker that did not end within its bound may still use the module and
  // the store: end the process here rather than destroy them under it.
  if (!module.WorkerThreadsEnded()) ExitProcess(static_cast<UINT>(result));
  return result;
}
