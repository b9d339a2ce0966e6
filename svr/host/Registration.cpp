#include "Registration.h"

#include "PelkoLabelSvr.h"

namespace pelko {
namespace {

constexpr wchar_t kClassName[] = L"LabelUtil Class";
// The type-library marshaler (oleaut32's PSOAInterface).
constexpr wchar_t kTypeLibraryMarshaler[] = L"{00020424-0000-0000-C000-000000000046}";

// An interface the type library describes, marshaled from it.
void AddInterfaceEntries(std::vector<RegistryKey>& keys, REFIID iid, const wchar_t* name, const std::wstring& libid) {
  const std::wstring interfaceKey = L"Interface\\" + GuidString(iid);
  keys.push_back({interfaceKey, KeyRule::ForceRemove, {{L"", name}}});
  keys.push_back({interfaceKey + L"\\ProxyStubClsid", KeyRule::Remove, {{L"", kTypeLibraryMarshaler}}});
  keys.push_back({interfaceKey + L"\\ProxyStubClsid32", KeyRule::Remove, {{L"", kTypeLibraryMarshaler}}});
  keys.push_back({interfaceKey + L"\\TypeLib", KeyRule::Remove, {{L"", libid}, {L"Version", L"1.0"}}});
}

}  // namespace

std::vector<RegistryKey> AppIdEntries(const std::wstring& serviceName) {
  const std::wstring appId = GuidString(kAppId);
  return {
      {L"AppID", KeyRule::NoRemove, {}},
      {L"AppID\\" + appId, KeyRule::Remove, {{L"", serviceName}}},
      {L"AppID\\PelkoLabelSvr.EXE", KeyRule::Remove, {{L"AppID", appId}}},
  };
}

std::vector<RegistryKey> ClassEntries(const std::wstring& programPath) {
  const std::wstring clsidKey = L"CLSID\\" + GuidString(CLSID_LabelUtil);
  const std::wstring clsid = GuidString(CLSID_LabelUtil);
  return {
      {kProgId, KeyRule::Remove, {{L"", kClassName}}},
      {std::wstring(kProgId) + L"\\CLSID", KeyRule::Remove, {{L"", clsid}}},
      {kVersionIndependentProgId, KeyRule::Remove, {{L"", kClassName}}},
      {std::wstring(kVersionIndependentProgId) + L"\\CLSID", KeyRule::Remove, {{L"", clsid}}},
      {std::wstring(kVersionIndependentProgId) + L"\\CurVer", KeyRule::Remove, {{L"", kProgId}}},
      {L"CLSID", KeyRule::NoRemove, {}},
      {clsidKey, KeyRule::ForceRemove, {{L"", kClassName}, {L"AppID", GuidString(kAppId)}}},
      {clsidKey + L"\\ProgID", KeyRule::Remove, {{L"", kProgId}}},
      {clsidKey + L"\\VersionIndependentProgID", KeyRule::Remove, {{L"", kVersionIndependentProgId}}},
      {clsidKey + L"\\Programmable", KeyRule::Remove, {}},
      {clsidKey + L"\\LocalServer32", KeyRule::Remove, {{L"", L"\"" + programPath + L"\""}}},
      {clsidKey + L"\\TypeLib", KeyRule::Remove, {{L"", GuidString(LIBID_PelkoLabelSvrLib)}}},
  };
}

std::vector<RegistryKey> TypeLibraryEntries(const std::wstring& libraryPath, const wchar_t* platform) {
  const std::wstring libid = GuidString(LIBID_PelkoLabelSvrLib);
  const std::wstring version = L"TypeLib\\" + libid + L"\\1.0";
  std::wstring folder = libraryPath.substr(0, libraryPath.rfind(L'\\'));
  std::vector<RegistryKey> keys = {
      {L"TypeLib", KeyRule::NoRemove, {}},
      {L"TypeLib\\" + libid, KeyRule::Remove, {}},
      {version, KeyRule::Remove, {{L"", L"PelkoLabelSvr 1.0 Type Library"}}},
      {version + L"\\0", KeyRule::Remove, {}},
      {version + L"\\0\\" + platform, KeyRule::Remove, {{L"", libraryPath}}},
      {version + L"\\FLAGS", KeyRule::Remove, {{L"", L"0"}}},
      {version + L"\\HELPDIR", KeyRule::Remove, {{L"", folder}}},
      {L"Interface", KeyRule::NoRemove, {}},
  };
  AddInterfaceEntries(keys, IID_ILabelUtil, L"ILabelUtil", libid);
  AddInterfaceEntries(keys, IID_ILabelFolderQuery, L"ILabelFolderQuery", libid);
  return keys;
}

}  // namespace pelko
