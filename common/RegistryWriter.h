#pragma once
// Registration as data: a list of keys under the classes root, each with its
// values and a removal rule, written and removed by one small engine that
// the service and the shell extension share.

#include <windows.h>

#include <string>
#include <vector>

namespace pelko {

enum class KeyRule {
  Remove,       // created on register; on unregister deleted once it has no subkeys left
  NoRemove,     // created if missing, never deleted (AppID, CLSID, ...)
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

enum class RegistryScope { Machine, User };

struct RegistryTarget {
  RegistryScope scope = RegistryScope::Machine;
  REGSAM view = 0;  // 0, or KEY_WOW64_32KEY / KEY_WOW64_64KEY
};

// Opens (or creates) the classes root of a target: HKEY_CLASSES_ROOT for the
// machine, HKEY_CURRENT_USER\Software\Classes for the user.
HKEY ClassesRootOf(const RegistryTarget& target, HKEY& ownedKey);

// Keys are written in list order (list parents before children).
HRESULT WriteRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target);
// Removal runs the list backwards, so children go before their parents.
// Keys and values that are already gone are not an error.
HRESULT RemoveRegistryKeys(const std::vector<RegistryKey>& keys, const RegistryTarget& target);

// Deletes a key with everything below it; ERROR_FILE_NOT_FOUND is success.
LONG DeleteRegistryTree(HKEY root, const std::wstring& path, REGSAM view);

// A GUID in registry form, "{XXXXXXXX-...}".
std::wstring GuidString(REFGUID guid);

}  // namespace pelko
