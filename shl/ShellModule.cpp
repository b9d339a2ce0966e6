#include "ShellModule.h"

#include <shlwapi.h>

#include "ComObject.h"
#include "DataFolder.h"
#include "LabelClient.h"
#include "RefreshWorker.h"
#include "Module.h"

namespace pelko {

HINSTANCE g_instance = nullptr;
std::uint16_t g_osVersion = 0;
BufferedPaintFunctions g_bufferedPaint;
std::wstring g_managerPath;
std::wstring g_configPath;

void InitializeModuleGlobals(HINSTANCE instance) {
  g_instance = instance;

  OSVERSIONINFOW version{};
  version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (GetVersionExW(&version)) {
#pragma GCC diagnostic pop
    g_osVersion = static_cast<std::uint16_t>(((version.dwMajorVersion & 0xFF) << 8) | (version.dwMinorVersion & 0xFF));
  }

  // Loading the theme library here would be wrong under the loader lock;
  // a process that draws themed menus has it already.
  if (HMODULE theme = GetModuleHandleW(L"UXTHEME.DLL"); theme && g_osVersion >= 0x0600) {
    g_bufferedPaint.begin = reinterpret_cast<BufferedPaintFunctions::Begin>(
        reinterpret_cast<void*>(GetProcAddress(theme, "BeginBufferedPaint")));
    g_bufferedPaint.end = reinterpret_cast<BufferedPaintFunctions::End>(
        reinterpret_cast<void*>(GetProcAddress(theme, "EndBufferedPaint")));
    g_bufferedPaint.getBits = reinterpret_cast<BufferedPaintFunctions::GetBits>(
        reinterpret_cast<void*>(GetProcAddress(theme, "GetBufferedPaintBits")));
  }

  const std::wstring library = ModuleFilePath(instance);
  g_managerPath = library.substr(0, library.rfind(L'\\') + 1) + L"PelkoLabelMngr.exe";

  g_configPath.clear();
  if (auto folder = ProductDataFolder()) g_configPath = *folder + L"\\PelkoLabelShlCfg.ini";
}

HRESULT CanUnloadModule(DWORD waitMs) {
  if (ModuleLock::Count() != 0) return S_FALSE;
  // Both threads must be gone before the code they run is; never waited
  // for in DllMain, where they could not end under the loader lock.
  const bool workerEnded = g_refreshWorker.Stop(waitMs);
  const bool lookupsEnded = g_labelClient.StopWorker(waitMs);
  // An object made while the threads stopped keeps the library.
  return workerEnded && lookupsEnded && ModuleLock::Count() == 0 ? S_OK : S_FALSE;
}

}  // namespace pelko
