#pragma once
// Registration as data: a list of keys under the classes root, each with its
// values and a removal rule, written and removed by one small engine that
// the service and the shell extension share.

#include <windows.h>

#include "UniqueHandle.h"

#include <string>
#include <vector>

namespace pelko {

enum class KeyRule {
  Remove,       // created on register; on unregister deleted once it has no subkeys left
  NoRemove,     // created if missing, never deleted (AppID, CLSID, ...); only its named values go
  ForceRemove,  // deleted whole before it is written, and deleted whole on unregister
};

struct RegistryValue {
  std::wstring name;  // empty: the key's default value
  std::wstring data;  // written as REG_SZ
};

struct RegistryKey {
  std::wstring path;  // below the classes root, e.g. L"CLSID\\{...}\\LocalServer32"
  KeyRule rule = KeyRule::Remove;
  std::vector<RegistryValue> values;
};

enum class RegistryScope {
  MachineClasses,  // HKEY_CLASSES_ROOT
  UserClasses,     // HKEY_CURRENT_USER\Software\Classes
  LocalMachine,    // HKEY_LOCAL_MACHINE itself (shell extension lists)
};

struct RegistryTarget {
  RegistryScope scope = RegistryScope::MachineClasses;
  REGSAM view = 0;  // 0, or KEY_WOW64_32KEY / KEY_WOW64_64KEY
};

// The root of a target, open while this lives (the user's classes key is
// created if missing). get() is null when it cannot be opened, and error()
// then says why.
class ClassesRoot {
 public:
  explicit ClassesRoot(const RegistryTarget& target);
  HKEY get() const { return m_key; }
  REGSAM view() const { return m_view; }
  LONG error() const { return m_error; }

 private:
  unique_hkey m_owned;
  HKEY m_key = nullptr;
  REGSAM m_view;
  LONG m_error = ERROR_SUCCESS;
};

// Keys are written in list order (list parents before children).
HRESULT WriteRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target);
// Removal runs the list backwards, so children go before their parents. Of a
// NoRemove key only the listed named values are deleted.
// Keys and values that are already gone are not an error.
HRESULT RemoveRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target);

// Deletes a key with everything below it; ERROR_FILE_NOT_FOUND is success.
LONG DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view);

// A GUID in registry form, "{XXXXXXXX-...}".
std::wstring GuidString(REFGUID guid);

}  // namespace pelko
