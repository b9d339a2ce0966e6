#pragma once
// What the extension computes once, when Explorer loads it.

#include <windows.h>

#include <cstdint>
#include <string>

namespace pelko {

// The theme library's buffered painting (Vista and later), looked up only
// when the process has loaded the theme library itself.
struct BufferedPaintFunctions {
  struct PaintParams {
    DWORD cbSize;
    DWORD dwFlags;
    const RECT* prcExclude;
    const BLENDFUNCTION* pBlendFunction;
  };
  using Begin = HANDLE(WINAPI*)(HDC target, const RECT* rect, int format, PaintParams* params, HDC* paintDc);
  using End = HRESULT(WINAPI*)(HANDLE buffer, BOOL updateTarget);
  using GetBits = HRESULT(WINAPI*)(HANDLE buffer, RGBQUAD** bits, int* rowPixels);
  Begin begin = nullptr;
  End end = nullptr;
  GetBits getBits = nullptr;
  bool Available() const { return begin && end && getBits; }
};

extern HINSTANCE g_instance;
extern std::uint16_t g_osVersion;  // major * 256 + minor
extern BufferedPaintFunctions g_bufferedPaint;
extern std::wstring g_managerPath;  // PelkoLabelMngr.exe beside the library
extern std::wstring g_configPath;   // PelkoLabelShlCfg.ini; empty when the folder is unknown

// Fills the globals; called when the library is loaded (and by tests).
void InitializeModuleGlobals(HINSTANCE instance);

// DllCanUnloadNow's answer: S_OK only when no object or lock lives and both
// of the library's threads (refresh worker, service lookups) have ended;
// asking stops them, waiting at most waitMs for each.
HRESULT CanUnloadModule(DWORD waitMs);

}  // namespace pelko
