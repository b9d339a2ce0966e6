#include "IconOverlay.h"

#include <shlwapi.h>

#include "HResult.h"
#include "LabelClient.h"
#include "MenuRules.h"
#include "RefreshWorker.h"
#include "ShellModule.h"
#include "Utf16.h"
#include "Win32Profile.h"

namespace pelko {

bool MatchOverlay(std::u16string_view path, LabelValue overlayLabel) {
  if (!MeetsLengthRule(path) || !g_labelClient.IsSupportedPath(path)) return false;
  const LabelValue label = g_labelClient.LookupLabel(path);
  if (label == overlayLabel) {
    g_refreshWorker.PushCheck(path, label);
    return true;
  }
  // Identifier 1 queues every answer, also "unavailable": the worker asks
  // again until the service answers, so the overlay appears once it does.
  if (overlayLabel == kLabelRed) g_refreshWorker.PushCheck(path, label);
  return false;
}

template <LabelValue Label>
IFACEMETHODIMP CIconOverlay<Label>::GetOverlayInfo(PWSTR iconFile, int iconFileSize, int* index, DWORD* flags) {
  return CatchAll([&]() -> HRESULT {
    if constexpr (Label == kLabelRed) {
      // Explorer builds its overlay list before it asks for members.
      g_labelClient.RebuildExcludedFolders();
      g_refreshWorker.Start();
    }
    Win32Profile profile(g_configPath);
    const std::wstring icon = ToWide(ReadOverlayIcon(profile, Label));
    if (icon.empty() || !PathFileExistsW(icon.c_str())) return S_FALSE;
    RETURN_HR_IF(E_POINTER, !iconFile || !index || !flags);
    // The caller's buffer decides, not an assumption about its size.
    RETURN_HR_IF(HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER),
                 iconFileSize <= 0 || icon.size() >= static_cast<std::size_t>(iconFileSize));
    lstrcpynW(iconFile, icon.c_str(), iconFileSize);
    *index = 0;
    *flags = ISIOI_ICONFILE;
    return S_OK;
  });
}

template <LabelValue Label>
IFACEMETHODIMP CIconOverlay<Label>::GetPriority(int* priority) {
  if (!priority) return E_POINTER;
  *priority = 0;
  return S_OK;
}

template <LabelValue Label>
IFACEMETHODIMP CIconOverlay<Label>::IsMemberOf(PCWSTR path, DWORD) {
  if (!path) return S_FALSE;
  return CatchAll([&]() -> HRESULT { return MatchOverlay(ToU16(path), Label) ? S_OK : S_FALSE; });
}

template class CIconOverlay<kLabelRed>;
template class CIconOverlay<kLabelOrange>;
template class CIconOverlay<kLabelYellow>;
template class CIconOverlay<kLabelGreen>;
template class CIconOverlay<kLabelBlue>;
template class CIconOverlay<kLabelGray>;

}  // namespace pelko
