#include "RegistryWriter.h"

#include <algorithm>
#include <iterator>

#include "HResult.h"
#include "UniqueHandle.h"

namespace pelko {
namespace {

bool IsMissing(LONG error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

}  // namespace

ClassesRoot::ClassesRoot(const RegistryTarget& target) : m_view(target.view) {
  if (target.scope == RegistryScope::MachineClasses) {
    m_key = HKEY_CLASSES_ROOT;
  } else if (target.scope == RegistryScope::LocalMachine) {
    m_key = HKEY_LOCAL_MACHINE;
  } else {
    m_error = RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Classes", 0, nullptr, 0, KEY_ALL_ACCESS | target.view,
                              nullptr, m_owned.put(), nullptr);
    if (m_error == ERROR_SUCCESS) m_key = m_owned.get();
  }
}

LONG DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view) {
  unique_hkey key;
  LONG error = RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | KEY_WRITE | view, key.put());
  if (IsMissing(error)) return ERROR_SUCCESS;
  if (error != ERROR_SUCCESS) return error;
  // Collect first: deleting while enumerating shifts the indexes.
  std::vector<std::wstring> children;
  wchar_t name[256];
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(std::size(name));
    if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    children.emplace_back(name, length);
  }
  key.reset();
  for (const std::wstring& child : children) {
    error = DeleteRegistryTree(root, path + L"\\" + child, view);
    if (error != ERROR_SUCCESS) return error;
  }
  // RegDeleteKeyExW (which takes a view) is missing on XP; look it up.
  using DeleteKeyEx = LONG(WINAPI*)(HKEY, LPCWSTR, REGSAM, DWORD);
  static const auto deleteKeyEx = reinterpret_cast<DeleteKeyEx>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"advapi32.dll"), "RegDeleteKeyExW")));
  error = deleteKeyEx ? deleteKeyEx(root, path.c_str(), view, 0) : RegDeleteKeyW(root, path.c_str());
  return IsMissing(error) ? ERROR_SUCCESS : error;
}

HRESULT WriteRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target) {
  ClassesRoot root(target);
  RETURN_IF_WIN32_ERROR(root.error());
  for (const RegistryKey& entry : keys) {
    if (entry.rule == KeyRule::ForceRemove) RETURN_IF_WIN32_ERROR(DeleteRegistryTree(root.get(), entry.path, root.view()));
    unique_hkey key;
    RETURN_IF_WIN32_ERROR(RegCreateKeyExW(root.get(), entry.path.c_str(), 0, nullptr, 0, KEY_WRITE | root.view(),
                                          nullptr, key.put(), nullptr));
    for (const RegistryValue& value : entry.values) {
      const auto bytes = static_cast<DWORD>((value.data.size() + 1) * sizeof(wchar_t));
      RETURN_IF_WIN32_ERROR(RegSetValueExW(key.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, REG_SZ,
                                           reinterpret_cast<const BYTE*>(value.data.c_str()), bytes));
    }
  }
  return S_OK;
}

HRESULT RemoveRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target) {
  ClassesRoot root(target);
  RETURN_IF_WIN32_ERROR(root.error());
  for (auto entry = keys.rbegin(); entry != keys.rend(); ++entry) {
    switch (entry->rule) {
      case KeyRule::NoRemove: {
        bool namedValues = false;
        for (const RegistryValue& value : entry->values) namedValues = namedValues || !value.name.empty();
        if (!namedValues) break;
        unique_hkey key;
        const LONG opened = RegOpenKeyExW(root.get(), entry->path.c_str(), 0, KEY_SET_VALUE | root.view(), key.put());
        if (IsMissing(opened)) break;
        RETURN_IF_WIN32_ERROR(opened);
        for (const RegistryValue& value : entry->values) {
          if (value.name.empty()) continue;
          const LONG deleted = RegDeleteValueW(key.get(), value.name.c_str());
          if (!IsMissing(deleted)) RETURN_IF_WIN32_ERROR(deleted);
        }
        break;
      }
      case KeyRule::ForceRemove:
        RETURN_IF_WIN32_ERROR(DeleteRegistryTree(root.get(), entry->path, root.view()));
        break;
      case KeyRule::Remove: {
        unique_hkey key;
        const LONG opened = RegOpenKeyExW(root.get(), entry->path.c_str(), 0, KEY_READ | KEY_WRITE | root.view(), key.put());
        if (IsMissing(opened)) break;
        RETURN_IF_WIN32_ERROR(opened);
        DWORD subkeys = 0;
        RETURN_IF_WIN32_ERROR(RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr,
                                               nullptr, nullptr, nullptr, nullptr, nullptr));
        key.reset();
        // A key that holds someone else's subkeys stays.
        if (subkeys == 0) RETURN_IF_WIN32_ERROR(DeleteRegistryTree(root.get(), entry->path, root.view()));
        break;
      }
    }
  }
  return S_OK;
}

std::wstring GuidString(REFGUID guid) {
  wchar_t text[40] = {};
  StringFromGUID2(guid, text, static_cast<int>(std::size(text)));
  return text;
}

}  // namespace pelko
