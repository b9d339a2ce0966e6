// PelkoLabelMngr: the label manager.

#include <windows.h>

#include "TagwellApp.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  pelko::CTagwellApp app(instance);
  return app.Run();
}
