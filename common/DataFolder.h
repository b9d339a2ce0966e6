#pragma once
// The product data folder: the machine-wide application-data folder followed
// by "\Norvane\Pelko Labels". It holds labels.lst and PelkoLabelShlCfg.ini.

#include <optional>
#include <string>

namespace pelko {

inline constexpr wchar_t kProductDataSubfolder[] = L"Norvane\\Pelko Labels";
inline constexpr wchar_t kVendorSubfolder[] = L"Norvane";

// The machine-wide application-data folder (CSIDL_COMMON_APPDATA), without a
// trailing backslash; nothing when the system cannot name it.
std::optional<std::wstring> CommonAppDataFolder();

// CommonAppDataFolder() + "\Norvane\Pelko Labels"; nothing is created here.
std::optional<std::wstring> ProductDataFolder();

}  // namespace pelko
