#pragma once
// The service program's registry entries, as data for the registry writer:
// the AppID part, the class part, and the type library's keys where they
// are written by hand (per user, and the 32-bit view of a 64-bit system).

#include <windows.h>

#include <string>
#include <vector>

#include "RegistryWriter.h"

namespace pelko {

// {12D94C00-2426-45E1-9544-959989F11C52}
inline constexpr GUID kAppId = {0x12d94c00, 0x2426, 0x45e1, {0x95, 0x44, 0x95, 0x99, 0x89, 0xf1, 0x1c, 0x52}};

inline constexpr wchar_t kProgId[] = L"PelkoLabelSvr.LabelUtil.1";
inline constexpr wchar_t kVersionIndependentProgId[] = L"PelkoLabelSvr.LabelUtil";

// AppID\{AppID} and AppID\PelkoLabelSvr.EXE; the AppID key itself stays.
std::vector<RegistryKey> AppIdEntries(const std::wstring& serviceName);

// The ProgIDs and CLSID\{CLSID}, whose LocalServer32 is programPath in quotes.
std::vector<RegistryKey> ClassEntries(const std::wstring& programPath);

// What RegisterTypeLib writes for PelkoLabelSvrLib 1.0 and ILabelUtil, with
// the library file for platform ("win32" or "win64").
std::vector<RegistryKey> TypeLibraryEntries(const std::wstring& libraryPath, const wchar_t* platform);

}  // namespace pelko
