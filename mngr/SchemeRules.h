#pragma once
// The rules of icon schemes that need no window: which folders are
// schemes, how their label count reads, and how much of it applies.

#include <string>
#include <string_view>
#include <vector>

namespace pelko {

// Every folder under icons\Schemes is a scheme, except ".", ".." and
// ".svn" (compared exactly).
bool IsSchemeFolderName(std::u16string_view name);

// The schemes in the order the dialog lists them, and so the order
// CurrentScheme counts in: by name, letter case aside, as NTFS lists
// folders. File systems that list in another order (FAT, or Wine on a Unix
// file system) would otherwise make the saved number name another scheme.
void SortSchemeNames(std::vector<std::u16string>& names);

// A profile value read as a number the way the schemes' LabelCount and the
// configuration's CurrentScheme are: leading blanks, one optional sign,
// then digits up to the first other character; no digits reads 0. Values
// beyond the int range are clamped.
int ProfileNumber(std::u16string_view text);

// The labels a scheme's LabelCount applies: 1 to this number. The dialog
// has six rows, and the configuration's sections after the sixth label's
// belong to other menu entries, so no more than six are ever applied.
int AppliedLabelCount(int labelCount);

}  // namespace pelko
