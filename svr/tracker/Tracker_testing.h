#pragma once
// Fakes shared by the tracker tests: a folder tree with attributes standing
// in for the system's path queries, and readable failure output.

#include <cstdint>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "ChangeRecord.h"
#include "IgnoredPath.h"
#include "LabelFileCodec_testing.h"
#include "PathCompare.h"

namespace pelko {

inline constexpr std::uint32_t kDirectoryAttribute = 0x10;

// A Vista-style machine unless a test says otherwise. Paths not added are
// gone: their attributes are invalid, as GetFileAttributesW reports.
class FakePathEnvironment : public IPathEnvironment {
 public:
  std::optional<std::u16string> commonAppData = u"C:\\ProgramData";
  std::optional<std::u16string> systemFolder = u"C:\\Windows\\System32";
  std::vector<std::u16string> asked;  // every FileAttributes query, in order

  // Adds folder and, as plain folders, every folder above it.
  void AddFolder(const std::u16string& folder, std::uint32_t attributes = kDirectoryAttribute) {
    m_attributes[folder] = attributes;
    for (std::size_t slash = folder.find(u'\\', 3); slash != std::u16string::npos;
         slash = folder.find(u'\\', slash + 1)) {
      m_attributes.try_emplace(folder.substr(0, slash), kDirectoryAttribute);
    }
  }
  void AddHiddenFolder(const std::u16string& folder) { AddFolder(folder, kDirectoryAttribute | kHiddenAttribute); }

  std::optional<std::u16string> CommonAppDataFolder() override { return commonAppData; }
  std::optional<std::u16string> SystemFolder() override { return systemFolder; }
  std::uint32_t FileAttributes(std::u16string_view path) override {
    asked.emplace_back(path);
    // Like the system, a trailing backslash names the same folder.
    if (path.size() > 3 && path.back() == u'\\') path.remove_suffix(1);
    const auto it = m_attributes.find(path);
    return it == m_attributes.end() ? kInvalidAttributes : it->second;
  }

 private:
  std::map<std::u16string, std::uint32_t, PathLess> m_attributes;
};

inline void PrintTo(const ChangeRecord& record, std::ostream* os) {
  *os << '{' << record.action << ", " << Printable(record.path);
  if (!record.secondPath.empty()) *os << " --> " << Printable(record.secondPath);
  *os << " @" << record.timeMs << '}';
}

}  // namespace pelko
