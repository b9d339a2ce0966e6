#include "WindowPlacement.h"

#include <vector>

#include "StartRules.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr wchar_t kPlacementValue[] = L"WindowPlacement";

BOOL CALLBACK AddWorkArea(HMONITOR monitor, HDC, LPRECT, LPARAM areas) {
  MONITORINFO info{};
  info.cbSize = sizeof(info);
  if (GetMonitorInfoW(monitor, &info)) {
    reinterpret_cast<std::vector<Rect>*>(areas)->push_back(
        {info.rcWork.left, info.rcWork.top, info.rcWork.right, info.rcWork.bottom});
  }
  return TRUE;
}

}  // namespace

bool RestoreWindowPlacement(HWND window, int& showCommand) {
  unique_hkey key;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kManagerSettingsKey, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) return false;
  WINDOWPLACEMENT placement{};
  DWORD type = 0, size = sizeof(placement);
  if (RegQueryValueExW(key.get(), kPlacementValue, nullptr, &type, reinterpret_cast<BYTE*>(&placement), &size) !=
          ERROR_SUCCESS ||
      type != REG_BINARY || size != sizeof(placement) || placement.length != sizeof(placement))
    return false;

  std::vector<Rect> workAreas;
  EnumDisplayMonitors(nullptr, nullptr, &AddWorkArea, reinterpret_cast<LPARAM>(&workAreas));
  const RECT& normal = placement.rcNormalPosition;
  if (!PlacementIsOnSomeMonitor({normal.left, normal.top, normal.right, normal.bottom}, workAreas)) return false;

  // A window closed while minimised comes back in its normal state.
  showCommand = placement.showCmd == SW_SHOWMAXIMIZED ? SW_SHOWMAXIMIZED : SW_SHOW;
  placement.showCmd = SW_HIDE;
  placement.flags = 0;
  return SetWindowPlacement(window, &placement) != FALSE;
}

void SaveWindowPlacement(HWND window) {
  WINDOWPLACEMENT placement{};
  placement.length = sizeof(placement);
  if (!GetWindowPlacement(window, &placement)) return;
  if (placement.showCmd == SW_SHOWMINIMIZED || placement.showCmd == SW_MINIMIZE)
    placement.showCmd = (placement.flags & WPF_RESTORETOMAXIMIZED) ? SW_SHOWMAXIMIZED : SW_SHOWNORMAL;
  unique_hkey key;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kManagerSettingsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr) !=
      ERROR_SUCCESS)
    return;
  RegSetValueExW(key.get(), kPlacementValue, 0, REG_BINARY, reinterpret_cast<const BYTE*>(&placement), sizeof(placement));
}

}  // namespace pelko
