#include "OverlayPass.h"

#include <algorithm>

#include "UniqueHandle.h"

namespace pelko::testing {

std::string Utf8(std::wstring_view text) {
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), size, nullptr, nullptr);
  return bytes;
}

void SortAsExplorer(std::vector<OverlayIdentifier>& identifiers) {
  auto upper = [](std::wstring name) {
    CharUpperBuffW(name.data(), static_cast<DWORD>(name.size()));
    return name;
  };
  std::stable_sort(identifiers.begin(), identifiers.end(),
                   [&](const OverlayIdentifier& a, const OverlayIdentifier& b) { return upper(a.keyName) < upper(b.keyName); });
}

std::vector<RegisteredClass> RegisteredClasses(HKEY root, const wchar_t* key) {
  std::vector<RegisteredClass> classes;
  unique_hkey list;
  if (RegOpenKeyExW(root, key, 0, KEY_READ, list.put()) != ERROR_SUCCESS) return classes;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = 256;
    if (RegEnumKeyExW(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    wchar_t value[64] = {};
    LONG size = sizeof value;
    RegisteredClass registered{name, {}};
    if (RegQueryValueW(list.get(), name, value, &size) == ERROR_SUCCESS && SUCCEEDED(CLSIDFromString(value, &registered.clsid))) {
      classes.push_back(std::move(registered));
    }
  }
  return classes;
}

std::vector<OverlayIdentifier> RegisteredOverlayIdentifiers() {
  std::vector<OverlayIdentifier> identifiers;
  for (const RegisteredClass& registered :
       RegisteredClasses(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers")) {
    OverlayIdentifier identifier{registered.keyName, registered.clsid, {}};
    CoCreateInstance(identifier.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IShellIconOverlayIdentifier,
                     identifier.object.put_void());
    identifiers.push_back(std::move(identifier));
  }
  SortAsExplorer(identifiers);
  return identifiers;
}

void PrintOverlayInfo(const std::vector<OverlayIdentifier>& identifiers, FILE* out) {
  for (const OverlayIdentifier& identifier : identifiers) {
    std::fprintf(out, "identifier %s", Utf8(identifier.keyName).c_str());
    if (!identifier.object) {
      std::fprintf(out, " not created\n");
      continue;
    }
    wchar_t icon[MAX_PATH] = L"untouched";
    int index = -1;
    DWORD flags = 0xFFFFFFFF;
    const HRESULT hr = identifier.object->GetOverlayInfo(icon, MAX_PATH, &index, &flags);
    int priority = -1;
    identifier.object->GetPriority(&priority);
    std::fprintf(out, " info 0x%08lX \"%s\" index=%d flags=0x%08lX priority=%d\n", static_cast<unsigned long>(hr),
                 Utf8(icon).c_str(), index, static_cast<unsigned long>(flags), priority);
  }
}

std::vector<std::wstring> AskMembership(const std::vector<OverlayIdentifier>& identifiers, const std::wstring& path,
                                        bool allSix, FILE* out) {
  std::vector<std::wstring> claimants;
  for (const OverlayIdentifier& identifier : identifiers) {
    if (!identifier.object) continue;
    const HRESULT hr = identifier.object->IsMemberOf(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (allSix && out) {
      std::fprintf(out, "ask %s %s 0x%08lX\n", Utf8(path).c_str(), Utf8(identifier.keyName).c_str(),
                   static_cast<unsigned long>(hr));
    }
    if (hr == S_OK) {
      claimants.push_back(identifier.keyName);
      if (!allSix) break;
    }
  }
  if (!allSix && out) {
    std::fprintf(out, "member %s %s\n", Utf8(path).c_str(), claimants.empty() ? "none" : Utf8(claimants[0]).c_str());
  }
  return claimants;
}

}  // namespace pelko::testing
