#include "ShellRegistration.h"

#include "ColumnProvider.h"
#include "FileLabelExt.h"
#include "IconOverlay.h"
#include "HResult.h"
#include "PelkoLabelShl.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

constexpr wchar_t kApproved[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved";
constexpr wchar_t kOverlayIdentifiers[] =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\ShellIconOverlayIdentifiers";

// The other bitness of a 64-bit Windows registered this class too: the keys
// both share must stay until it unregisters.
bool OtherBitnessHasClass(REFCLSID clsid) {
  const REGSAM otherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  unique_hkey key;
  return RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidString(clsid)).c_str(), 0, KEY_READ | otherView,
                       key.put()) == ERROR_SUCCESS;
}

}  // namespace

const std::vector<ServedClass>& ServedClasses() {
  static const std::vector<ServedClass> classes{
      {&CLSID_FileLabelExt, &CreateFileLabelExt, L"FileLabelExt", L"PelkoLabelShlExt Class", ShellRole::ContextMenu,
       L"PelkoLabelShlExtension"},
      {&CLSID_IconOverlay1, &CreateIconOverlay<kLabelRed>, L"IconOverlay1", L"IconOverlay1 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay1"},
      {&CLSID_IconOverlay2, &CreateIconOverlay<kLabelOrange>, L"IconOverlay2", L"IconOverlay2 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay2"},
      {&CLSID_IconOverlay3, &CreateIconOverlay<kLabelYellow>, L"IconOverlay3", L"IconOverlay3 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay3"},
      {&CLSID_IconOverlay4, &CreateIconOverlay<kLabelGreen>, L"IconOverlay4", L"IconOverlay4 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay4"},
      {&CLSID_IconOverlay5, &CreateIconOverlay<kLabelBlue>, L"IconOverlay5", L"IconOverlay5 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay5"},
      {&CLSID_IconOverlay6, &CreateIconOverlay<kLabelGray>, L"IconOverlay6", L"IconOverlay6 Class",
       ShellRole::IconOverlay, L"01PelkoLabelShlOverlay6"},
      {&CLSID_ColumnProviderEx, &CreateColumnProvider, L"ColumnProviderEx", L"ColumnProviderEx Class",
       ShellRole::Column, nullptr},
  };
  return classes;
}

const ServedClass* FindServedClass(REFCLSID clsid) {
  for (const ServedClass& served : ServedClasses()) {
    if (IsEqualCLSID(*served.clsid, clsid)) return &served;
  }
  return nullptr;
}

std::vector<RegistryKey> ShellAppIdEntries() {
  const std::wstring appId = GuidString(kShellAppId);
  return {
      {L"AppID", KeyRule::NoRemove, {}},
      {L"AppID\\" + appId, KeyRule::Remove, {{L"", L"PelkoLabelShl"}}},
      {L"AppID\\PelkoLabelShl.DLL", KeyRule::Remove, {{L"AppID", appId}}},
  };
}

std::vector<RegistryKey> ShellClassEntries(const ServedClass& served, const std::wstring& modulePath) {
  const std::wstring clsid = GuidString(*served.clsid);
  const std::wstring versionIndependent = std::wstring(L"PelkoLabelShl.") + served.coclass;
  const std::wstring versioned = versionIndependent + L".1";
  const std::wstring className = std::wstring(served.coclass) + L" Class";
  const std::wstring classKey = L"CLSID\\" + clsid;
  const std::wstring typeLib = served.role == ShellRole::Column ? L"{}" : GuidString(LIBID_PelkoLabelShlLib);
  return {
      {versioned, KeyRule::Remove, {{L"", className}}},
      {versioned + L"\\CLSID", KeyRule::Remove, {{L"", clsid}}},
      {versionIndependent, KeyRule::Remove, {{L"", className}}},
      {versionIndependent + L"\\CLSID", KeyRule::Remove, {{L"", clsid}}},
      {versionIndependent + L"\\CurVer", KeyRule::Remove, {{L"", versioned}}},
      {L"CLSID", KeyRule::NoRemove, {}},
      {classKey, KeyRule::ForceRemove, {{L"", served.description}}},
      {classKey + L"\\ProgID", KeyRule::Remove, {{L"", versioned}}},
      {classKey + L"\\VersionIndependentProgID", KeyRule::Remove, {{L"", versionIndependent}}},
      {classKey + L"\\InprocServer32", KeyRule::Remove, {{L"", modulePath}, {L"ThreadingModel", L"Apartment"}}},
      {classKey + L"\\TypeLib", KeyRule::Remove, {{L"", typeLib}}},
  };
}

std::vector<RegistryKey> SharedClassesRootEntries(const ServedClass& served) {
  const std::wstring clsid = GuidString(*served.clsid);
  switch (served.role) {
    case ShellRole::ContextMenu: {
      std::vector<RegistryKey> keys;
      for (const wchar_t* owner : {L"*", L"Folder"}) {
        const std::wstring handlers = std::wstring(owner) + L"\\ShellEx\\ContextMenuHandlers";
        keys.push_back({owner, KeyRule::NoRemove, {}});
        keys.push_back({std::wstring(owner) + L"\\ShellEx", KeyRule::NoRemove, {}});
        keys.push_back({handlers, KeyRule::NoRemove, {}});
        keys.push_back({handlers + L"\\" + served.shellName, KeyRule::ForceRemove, {{L"", clsid}}});
      }
      return keys;
    }
    case ShellRole::Column:
      return {
          {L"Folder", KeyRule::NoRemove, {}},
          {L"Folder\\Shellex", KeyRule::NoRemove, {}},
          {L"Folder\\Shellex\\ColumnHandlers", KeyRule::NoRemove, {}},
          {L"Folder\\Shellex\\ColumnHandlers\\" + clsid, KeyRule::ForceRemove, {{L"", L"PelkoColumnProviderEx"}}},
      };
    case ShellRole::IconOverlay:
      break;
  }
  return {};
}

std::vector<RegistryKey> SharedLocalMachineEntries(const ServedClass& served) {
  const std::wstring clsid = GuidString(*served.clsid);
  switch (served.role) {
    case ShellRole::ContextMenu:
      return {{kApproved, KeyRule::NoRemove, {{clsid, served.shellName}}}};
    case ShellRole::IconOverlay:
      return {
          {kOverlayIdentifiers, KeyRule::NoRemove, {}},
          {std::wstring(kOverlayIdentifiers) + L"\\" + served.shellName, KeyRule::ForceRemove, {{L"", clsid}}},
          {kApproved, KeyRule::NoRemove, {{clsid, served.shellName}}},
      };
    case ShellRole::Column:
      break;
  }
  return {};
}

HRESULT RegisterShellExtension(const std::wstring& modulePath, bool perUser) {
  const RegistryTarget classes{perUser ? RegistryScope::UserClasses : RegistryScope::MachineClasses, 0};
  const RegistryTarget machine{RegistryScope::LocalMachine, 0};
  RETURN_IF_FAILED(WriteRegistryKeys(ShellAppIdEntries(), classes));
  for (const ServedClass& served : ServedClasses()) {
    RETURN_IF_FAILED(WriteRegistryKeys(ShellClassEntries(served, modulePath), classes));
    RETURN_IF_FAILED(WriteRegistryKeys(SharedClassesRootEntries(served), classes));
    RETURN_IF_FAILED(WriteRegistryKeys(SharedLocalMachineEntries(served), machine));
  }
  return S_OK;
}

HRESULT UnregisterShellExtension(const std::wstring& modulePath, bool perUser) {
  const RegistryTarget classes{perUser ? RegistryScope::UserClasses : RegistryScope::MachineClasses, 0};
  const RegistryTarget machine{RegistryScope::LocalMachine, 0};
  HRESULT result = S_OK;
  for (const ServedClass& served : ServedClasses()) {
    const HRESULT removed = RemoveRegistryKeys(ShellClassEntries(served, modulePath), classes);
    if (FAILED(removed) && SUCCEEDED(result)) result = removed;
    if (!perUser && OtherBitnessHasClass(*served.clsid)) continue;
    const HRESULT shared = RemoveRegistryKeys(SharedClassesRootEntries(served), classes);
    const HRESULT listed = RemoveRegistryKeys(SharedLocalMachineEntries(served), machine);
    if (FAILED(shared) && SUCCEEDED(result)) result = shared;
    if (FAILED(listed) && SUCCEEDED(result)) result = listed;
  }
  const HRESULT appId = RemoveRegistryKeys(ShellAppIdEntries(), classes);
  return SUCCEEDED(result) ? appId : result;
}

}  // namespace pelko
