#pragma once
// Where the manager sends a user and where it looks for a newer version:
// the maker's support address and web server, named here once.

namespace pelko {

#define PELKO_MAKER_HOST L"www.norvane.com"

inline constexpr wchar_t kSupportAddress[] = L"support@norvane.com";
inline constexpr wchar_t kProductWebSite[] = L"https://" PELKO_MAKER_HOST L"/pelko-labels/";
// A text file holding the newest version, e.g. "1.0.0.3".
inline constexpr wchar_t kVersionFileUrl[] = L"https://" PELKO_MAKER_HOST L"/PelkoLabelsVersion.txt";

}  // namespace pelko
