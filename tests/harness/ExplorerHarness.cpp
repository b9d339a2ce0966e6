// ExplorerHarness: plays Explorer's part for the shell extension where no
// Explorer is at hand (Wine's file manager loads no third-party menus and
// draws no overlays). It loads the extension's objects the way Explorer
// does, by the class IDs registered under Explorer's keys, and prints what
// they answer, one fact per line. It listens for the shell's change
// notifications on a window of its own, made before any handler is loaded
// (Wine delivers them only inside the sending process), and prints them.
//
//   ExplorerHarness menu [--flags N] [--helptext OFFSET]... [--invoke OFFSET | --verb TEXT] PATH...
//     the context-menu handlers of HKCR\*\ShellEx\ContextMenuHandlers and
//     HKCR\Folder\ShellEx\ContextMenuHandlers, with a CF_HDROP of the paths
//   ExplorerHarness overlays [--all] [--wait MS] [--set PATH=LABEL]... PATH...
//     the identifiers of ShellIconOverlayIdentifiers in Explorer's order:
//     icon and priority once, then each path, stopping at the first claim
//     (or asking all six with --all). --set changes a label through the
//     service after the pass, as another program would; an item Explorer is
//     told to redraw during the wait is asked about again.
//   ExplorerHarness column [--pid N] PATH...
//     the column handlers of HKCR\Folder\Shellex\ColumnHandlers
//   --warm PATH (overlays and column): first, unprinted, asks about a
//     labelled PATH until it is answered (at most 10 s), as an Explorer that
//     has been running a while has its connection to the service. A fresh
//     process's first lookup may take longer than a lookup may wait (on a
//     loaded machine), and is then answered "unavailable" by design.
//
// Output, for example:
//   handler {CLSID}
//   result 0x0000000C
//   item 1 "&Pelko Labels" id=100 bitmap=yes submenu
//   invoke 3 0x00000000
//   identifier 01PelkoLabelShlOverlay3 info 0x00000000 "C:\y.ico" index=0 flags=0x00000001 priority=0
//   member D:\Work\plan.doc 01PelkoLabelShlOverlay3
//   notify 0x00002000 D:\x\a.txt
//   column 0 0x00000000 "Pelko Label" ...
//   data D:\x\a.txt 0x00000000 "Amber"

#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ComObject.h"
#include "ComPtr.h"
#include "DropDataObject.h"
#include "OverlayPass.h"
#include "PelkoLabelSvr.h"
#include "UniqueHandle.h"

namespace {

using namespace pelko;
using pelko::testing::Utf8;

constexpr UINT kNotifyMessage = WM_APP + 1;
constexpr UINT kFirstCommandId = 100;
constexpr UINT kLastCommandId = 0x7FFF;



// The overlay pass asks again about an item Explorer is told to redraw.
std::vector<pelko::testing::OverlayIdentifier>* g_overlayIdentifiers = nullptr;

LRESULT CALLBACK ListenerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kNotifyMessage) {
    PIDLIST_ABSOLUTE* items = nullptr;
    LONG event = 0;
    HANDLE lock = SHChangeNotification_Lock(reinterpret_cast<HANDLE>(wParam), static_cast<DWORD>(lParam), &items, &event);
    if (lock) {
      wchar_t path[MAX_PATH] = {};
      if (items && items[0]) SHGetPathFromIDListW(items[0], path);
      std::printf("notify 0x%08lX %s\n", static_cast<unsigned long>(event), Utf8(path).c_str());
      SHChangeNotification_Unlock(lock);
      if (g_overlayIdentifiers && path[0]) {
        std::printf("again ");
        pelko::testing::AskMembership(*g_overlayIdentifiers, path, false, stdout);
      }
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

// The window that hears the shell's notifications.
HWND CreateListener() {
  WNDCLASSW windowClass{};
  windowClass.lpfnWndProc = ListenerProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"PelkoExplorerHarness";
  RegisterClassW(&windowClass);
  HWND window = CreateWindowW(windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              windowClass.hInstance, nullptr);
  if (!window) return nullptr;
  SHChangeNotifyEntry everything{nullptr, TRUE};
  SHChangeNotifyRegister(window, SHCNRF_ShellLevel | SHCNRF_InterruptLevel | SHCNRF_NewDelivery, SHCNE_ALLEVENTS,
                         kNotifyMessage, 1, &everything);
  return window;
}

void PumpMessages(DWORD forMs) {
  const DWORD started = GetTickCount();
  while (GetTickCount() - started < forMs) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
}

void PrintMenu(HMENU menu, int depth) {
  const int count = GetMenuItemCount(menu);
  for (int position = 0; position < count; ++position) {
    wchar_t text[512] = {};
    MENUITEMINFOW item{};
    item.cbSize = sizeof item;
    item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU | MIIM_BITMAP | MIIM_CHECKMARKS;
    item.dwTypeData = text;
    item.cch = 511;
    GetMenuItemInfoW(menu, position, TRUE, &item);
    std::printf("%*sitem %d ", depth * 2, "", position);
    if (item.fType & MFT_SEPARATOR) {
      std::printf("separator\n");
      continue;
    }
    const bool bitmap = item.hbmpItem != nullptr || item.hbmpChecked != nullptr;
    std::printf("\"%s\" id=%u bitmap=%s%s%s\n", Utf8(text).c_str(), item.wID, bitmap ? "yes" : "no",
                item.hbmpItem == HBMMENU_CALLBACK ? " owner-drawn" : "", item.hSubMenu ? " submenu" : "");
    if (item.hSubMenu) PrintMenu(item.hSubMenu, depth + 1);
  }
}

// The handlers Explorer would load for files and folders, each once.
std::vector<CLSID> ContextMenuHandlers() {
  std::vector<CLSID> handlers;
  for (const wchar_t* key : {L"*\\ShellEx\\ContextMenuHandlers", L"Folder\\ShellEx\\ContextMenuHandlers"}) {
    for (const auto& registered : pelko::testing::RegisteredClasses(HKEY_CLASSES_ROOT, key)) {
      bool known = false;
      for (const CLSID& existing : handlers) known = known || IsEqualCLSID(existing, registered.clsid);
      if (!known) handlers.push_back(registered.clsid);
    }
  }
  return handlers;
}

struct Options {
  std::wstring mode;
  UINT flags = CMF_NORMAL;
  std::vector<UINT> helpTexts;
  int invoke = -1;
  std::string verb;
  bool allSix = false;
  DWORD waitMs = 500;
  ULONG pid = 0;
  std::wstring warmPath;
  std::vector<std::pair<std::wstring, ULONG>> changes;
  std::vector<std::wstring> paths;
};

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
  if (argc < 2) return false;
  options.mode = argv[1];
  if (options.mode != L"menu" && options.mode != L"overlays" && options.mode != L"column") return false;
  for (int i = 2; i < argc; ++i) {
    const std::wstring argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == L"--flags" && hasValue) {
      options.flags = static_cast<UINT>(wcstoul(argv[++i], nullptr, 0));
    } else if (argument == L"--helptext" && hasValue) {
      options.helpTexts.push_back(static_cast<UINT>(wcstoul(argv[++i], nullptr, 0)));
    } else if (argument == L"--invoke" && hasValue) {
      options.invoke = static_cast<int>(wcstol(argv[++i], nullptr, 0));
    } else if (argument == L"--verb" && hasValue) {
      options.verb = Utf8(argv[++i]);
    } else if (argument == L"--all") {
      options.allSix = true;
    } else if (argument == L"--wait" && hasValue) {
      options.waitMs = wcstoul(argv[++i], nullptr, 0);
    } else if (argument == L"--warm" && hasValue) {
      options.warmPath = argv[++i];
    } else if (argument == L"--pid" && hasValue) {
      options.pid = wcstoul(argv[++i], nullptr, 0);
    } else if (argument == L"--set" && hasValue) {
      const std::wstring change = argv[++i];
      const std::size_t equals = change.rfind(L'=');
      if (equals == std::wstring::npos) return false;
      options.changes.emplace_back(change.substr(0, equals), wcstoul(change.c_str() + equals + 1, nullptr, 0));
    } else {
      options.paths.push_back(argument);
    }
  }
  return true;
}

int RunMenu(const Options& options, HWND listener) {
  for (const CLSID& clsid : ContextMenuHandlers()) {
    wchar_t name[64] = {};
    StringFromGUID2(clsid, name, 64);
    std::printf("handler %s\n", Utf8(name).c_str());
    com_ptr<IShellExtInit> init;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellExtInit, init.put_void());
    if (FAILED(hr)) {
      std::printf("create 0x%08lX\n", static_cast<unsigned long>(hr));
      continue;
    }
    com_ptr<IDataObject> data = com_ptr<IDataObject>::attach(ComObject<pelko::testing::CDropDataObject>::Create(options.paths));
    init->Initialize(nullptr, data.get(), nullptr);
    com_ptr<IContextMenu> contextMenu;
    if (FAILED(init.query(contextMenu))) continue;
    unique_hmenu menu(CreatePopupMenu());
    hr = contextMenu->QueryContextMenu(menu.get(), 0, kFirstCommandId, kLastCommandId, options.flags);
    std::printf("result 0x%08lX\n", static_cast<unsigned long>(hr));
    PrintMenu(menu.get(), 0);
    for (UINT offset : options.helpTexts) {
      wchar_t text[260] = {};
      hr = contextMenu->GetCommandString(offset, GCS_HELPTEXTW, nullptr, reinterpret_cast<char*>(text), 260);
      std::printf("helptext %u 0x%08lX \"%s\"\n", offset, static_cast<unsigned long>(hr), Utf8(text).c_str());
    }
    if (options.invoke >= 0 || !options.verb.empty()) {
      CMINVOKECOMMANDINFO info{};
      info.cbSize = sizeof info;
      info.hwnd = listener;
      info.lpVerb = options.verb.empty() ? MAKEINTRESOURCEA(options.invoke) : options.verb.c_str();
      info.nShow = SW_SHOWNORMAL;
      hr = contextMenu->InvokeCommand(&info);
      std::printf("invoke %s 0x%08lX\n", options.verb.empty() ? std::to_string(options.invoke).c_str() : options.verb.c_str(),
                  static_cast<unsigned long>(hr));
    }
    PumpMessages(options.waitMs);
  }
  return 0;
}

// Another program changing labels: straight through the service.
void ApplyChanges(const Options& options) {
  if (options.changes.empty()) return;
  CLSID clsid;
  com_ptr<ILabelUtil> labels;
  if (FAILED(CLSIDFromProgID(L"PelkoLabelSvr.LabelUtil", &clsid)) ||
      FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_ILabelUtil, labels.put_void()))) {
    std::printf("set failed: no service\n");
    return;
  }
  for (const auto& [path, label] : options.changes) {
    unique_bstr text(SysAllocString(path.c_str()));
    const HRESULT hr = labels->SetLabel(text.get(), label);
    std::printf("set %s %lu 0x%08lX\n", Utf8(path).c_str(), label, static_cast<unsigned long>(hr));
  }
}

// Asks answered() every 100 ms until it is true, at most 10 s; says how long it took.
template <typename Answered>
void WarmUp(const std::wstring& path, Answered answered) {
  if (path.empty()) return;
  constexpr DWORD kWarmUpBoundMs = 10000;
  const DWORD started = GetTickCount();
  for (;;) {
    if (answered()) {
      std::printf("warm %s answered after %lu ms\n", Utf8(path).c_str(), GetTickCount() - started);
      return;
    }
    if (GetTickCount() - started >= kWarmUpBoundMs) break;
    Sleep(100);
  }
  std::printf("warm %s not answered within %lu ms\n", Utf8(path).c_str(), kWarmUpBoundMs);
}

int RunOverlays(const Options& options) {
  std::vector<pelko::testing::OverlayIdentifier> identifiers = pelko::testing::RegisteredOverlayIdentifiers();
  pelko::testing::PrintOverlayInfo(identifiers, stdout);
  WarmUp(options.warmPath, [&] {
    for (const auto& identifier : identifiers) {
      if (identifier.object && identifier.object->IsMemberOf(options.warmPath.c_str(), 0) == S_OK) return true;
    }
    return false;
  });
  for (const std::wstring& path : options.paths) pelko::testing::AskMembership(identifiers, path, options.allSix, stdout);
  ApplyChanges(options);
  g_overlayIdentifiers = &identifiers;
  PumpMessages(options.waitMs);
  g_overlayIdentifiers = nullptr;
  return 0;
}

int RunColumn(const Options& options) {
  unique_hkey list;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, L"Folder\\Shellex\\ColumnHandlers", 0, KEY_READ, list.put()) != ERROR_SUCCESS) {
    std::printf("no column handlers\n");
    return 0;
  }
  wchar_t name[64];
  for (DWORD index = 0;; ++index) {
    DWORD length = 64;
    if (RegEnumKeyExW(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    CLSID clsid;
    if (FAILED(CLSIDFromString(name, &clsid))) continue;
    std::printf("columnhandler %s\n", Utf8(name).c_str());
    com_ptr<IColumnProvider> provider;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IColumnProvider, provider.put_void()))) {
      std::printf("create failed\n");
      continue;
    }
    SHCOLUMNINIT init{};
    lstrcpynW(init.wszFolder, L"D:\\", MAX_PATH);
    provider->Initialize(&init);
    SHCOLUMNID column{};
    for (DWORD columnIndex = 0; columnIndex < 2; ++columnIndex) {
      SHCOLUMNINFO info{};
      const HRESULT hr = provider->GetColumnInfo(columnIndex, &info);
      std::printf("column %lu 0x%08lX", columnIndex, static_cast<unsigned long>(hr));
      if (hr == S_OK) {
        wchar_t fmtid[64] = {};
        StringFromGUID2(info.scid.fmtid, fmtid, 64);
        std::printf(" \"%s\" \"%s\" fmtid=%s pid=%lu vt=%u fmt=%lu chars=%u state=0x%08lX", Utf8(info.wszTitle).c_str(),
                    Utf8(info.wszDescription).c_str(), Utf8(fmtid).c_str(), info.scid.pid, info.vt, info.fmt,
                    info.cChars, info.csFlags);
        if (columnIndex == 0) column = info.scid;
      }
      std::printf("\n");
    }
    column.pid = options.pid ? options.pid : column.pid;
    auto ask = [&](const std::wstring& path, unique_variant& value) {
      SHCOLUMNDATA data{};
      data.dwFileAttributes = GetFileAttributesW(path.c_str());
      lstrcpynW(data.wszFile, path.c_str(), MAX_PATH);
      return provider->GetItemData(&column, &data, value.get());
    };
    WarmUp(options.warmPath, [&] {
      unique_variant value;
      return ask(options.warmPath, value) == S_OK;
    });
    for (const std::wstring& path : options.paths) {
      unique_variant value;
      const HRESULT hr = ask(path, value);
      std::printf("data %s 0x%08lX", Utf8(path).c_str(), static_cast<unsigned long>(hr));
      if (hr == S_OK && value->vt == VT_BSTR) std::printf(" \"%s\"", Utf8(value->bstrVal).c_str());
      std::printf("\n");
    }
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: ExplorerHarness menu [--flags N] [--helptext OFFSET]... [--invoke OFFSET | --verb TEXT] PATH...\n"
                 "       ExplorerHarness overlays [--all] [--wait MS] [--warm PATH] [--set PATH=LABEL]... PATH...\n"
                 "       ExplorerHarness column [--pid N] [--warm PATH] PATH...\n");
    return 2;
  }
  if (FAILED(OleInitialize(nullptr))) return 1;
  // Explorer always has the theme library loaded; menu bitmaps need it.
  LoadLibraryW(L"uxtheme.dll");
  HWND listener = CreateListener();
  if (!listener) std::printf("warning: no notification listener\n");
  const int result = options.mode == L"menu" ? RunMenu(options, listener)
                     : options.mode == L"overlays" ? RunOverlays(options)
                                                   : RunColumn(options);
  std::fflush(stdout);
  OleUninitialize();
  return result;
}
