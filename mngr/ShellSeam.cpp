#include "ShellSeam.h"

#include <shellapi.h>
#include <shlobj.h>

#include "Module.h"
#include "ObserverSeam.h"

namespace pelko {

HINSTANCE ShellOpen(HWND owner, const wchar_t* verb, const std::wstring& file, int show) {
  const std::wstring line = std::wstring(L"[") + (verb ? verb : L"") + L"] " + file;
  if (AppendToObserverFile(ThisModule(), L".shell", line)) return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
  return ShellExecuteW(owner, verb, file.c_str(), nullptr, nullptr, show);
}

int ManagerMessageBox(HWND owner, const std::wstring& text, UINT style, const wchar_t* caption) {
  if (AppendToObserverFile(ThisModule(), L".messages", L"[" + std::wstring(caption) + L"] " + text)) {
    return (style & MB_TYPEMASK) == MB_YESNO ? IDYES : IDOK;
  }
  return MessageBoxW(owner, text.c_str(), caption, style);
}

void NotifyItemUpdated(const std::wstring& path) {
  if (AppendToObserverFile(ThisModule(), L".shell", L"[updateitem] " + path)) return;
  SHChangeNotify(SHCNE_UPDATEITEM, SHCNF_PATHW | SHCNF_FLUSHNOWAIT, path.c_str(), nullptr);
}

}  // namespace pelko
