#pragma once
// Paths are kept whole whatever their length; the file functions take them
// beyond MAX_PATH only in the "\\?\" form.

#include <string>
#include <string_view>

namespace pelko {

// "\\?\X:\..." or "\\?\UNC\server\share\..." for a long absolute path; any
// other path is returned as it stands.
std::wstring ExtendedLengthPath(std::wstring_view path);

}  // namespace pelko
