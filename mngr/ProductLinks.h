#pragma once
// Where the manager sends a user: the maker's support address and web site.
// Named here once; the help, feedback and About commands take them from here.

namespace pelko {

inline constexpr wchar_t kSupportAddress[] = L"support@norvane.com";
inline constexpr wchar_t kProductWebSite[] = L"https://www.norvane.com/pelko-labels/";

}  // namespace pelko
