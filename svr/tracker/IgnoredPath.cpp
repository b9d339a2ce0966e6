#include "IgnoredPath.h"

#include "PathCompare.h"

namespace pelko {
namespace {

// Where the root part of a path ends: "C:\" (3), "\\server\share\" or
// "\\server\share" (up to the share), "\" (1); 0 for a relative path.
std::size_t RootLength(std::u16string_view path) {
  if (path.size() >= 2 && path[1] == u':') return path.size() >= 3 && path[2] == u'\\' ? 3 : 2;
  if (path.starts_with(u"\\\\")) {
    std::size_t server = path.find(u'\\', 2);
    if (server == std::u16string_view::npos) return path.size();
    std::size_t share = path.find(u'\\', server + 1);
    return share == std::u16string_view::npos ? path.size() : share + 1;
  }
  if (path.starts_with(u"\\")) return 1;
  return 0;
}

// The same folding as the table, which is what _wcsnicmp does for the
// ASCII letters that drive letters and system folder names use.
bool EqualIgnoringCase(std::u16string_view a, std::u16string_view b) { return PathsEqual(a, b); }

}  // namespace

std::u16string RemoveFileSpec(std::u16string_view path) {
  const std::size_t root = RootLength(path);
  if (path.size() <= root) return std::u16string(path);
  const std::size_t slash = path.rfind(u'\\');
  if (slash == std::u16string_view::npos || slash < root) return std::u16string(path.substr(0, root));
  return std::u16string(path.substr(0, slash));
}

std::u16string RemoveBackslash(std::u16string_view path) {
  if (!path.empty() && path.back() == u'\\' && !IsRoot(path)) path.remove_suffix(1);
  return std::u16string(path);
}

bool IsRoot(std::u16string_view path) {
  if (path == u"\\") return true;
  if (path.size() == 3 && path[1] == u':' && path[2] == u'\\') return true;
  if (path.starts_with(u"\\\\")) {
    const std::size_t length = RootLength(path);
    return length == path.size() && (path.back() == u'\\' || path.find(u'\\', 2) != std::u16string_view::npos);
  }
  return false;
}

bool IsPathUnder(std::u16string_view outer, std::u16string_view inner) {
  if (outer.empty() || inner.empty()) return false;
  const std::size_t n = outer.size();
  if (n > inner.size()) return false;
  if (!EqualIgnoringCase(outer, inner.substr(0, n))) return false;
  return n == inner.size() || inner[n - 1] == u'\\' || inner[n] == u'\\';
}

bool HasHiddenAncestor(IPathEnvironment& environment, std::u16string_view path) {
  const std::u16string folder = RemoveFileSpec(path);
  // Each folder after the drive, as a prefix that keeps the backslash
  // after its component; the last one is the whole folder path.
  std::size_t at = RootLength(folder);
  while (at < folder.size()) {
    const std::size_t slash = folder.find(u'\\', at);
    const std::size_t end = slash == std::u16string::npos ? folder.size() : slash + 1;
    const std::u16string_view prefix = std::u16string_view(folder).substr(0, end);
    at = end;
    if (IsRoot(prefix)) continue;
    const std::uint32_t attributes = environment.FileAttributes(prefix);
    // A folder that is gone or unreadable counts as hidden.
    if (attributes == kInvalidAttributes || (attributes & kHiddenAttribute)) return true;
  }
  return false;
}

bool IsIgnoredPath(IPathEnvironment& environment, std::u16string_view path) {
  const std::u16string parent = RemoveBackslash(RemoveFileSpec(path));
  const std::u16string base =
      RemoveFileSpec(RemoveFileSpec(environment.CommonAppDataFolder().value_or(std::u16string())));
  if (IsPathUnder(base, parent) && HasHiddenAncestor(environment, path)) return true;
  return IsPathUnder(environment.SystemFolder().value_or(std::u16string()), parent);
}

}  // namespace pelko
