#pragma once
// Which changes the tracker leaves alone: changes inside the system folder,
// and changes in hidden folders below the application-data base (the
// folder two levels above the machine-wide application-data folder: the
// drive root on Vista and later, "Documents and Settings" on XP).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace pelko {

// What the rules ask of the system.
class IPathEnvironment {
 public:
  virtual ~IPathEnvironment() = default;
  virtual std::optional<std::u16string> CommonAppDataFolder() = 0;
  virtual std::optional<std::u16string> SystemFolder() = 0;
  // GetFileAttributesW: kInvalidAttributes for a path that cannot be read.
  virtual std::uint32_t FileAttributes(std::u16string_view path) = 0;
};

inline constexpr std::uint32_t kInvalidAttributes = 0xFFFFFFFF;
inline constexpr std::uint32_t kHiddenAttribute = 0x2;

// The path helpers of the light-weight shell API, for the drive-letter and
// UNC paths the watcher makes.
std::u16string RemoveFileSpec(std::u16string_view path);  // PathRemoveFileSpecW
std::u16string RemoveBackslash(std::u16string_view path);  // PathRemoveBackslashW
bool IsRoot(std::u16string_view path);                      // PathIsRootW

// True when inner is outer or lies inside it; ASCII case ignored.
bool IsPathUnder(std::u16string_view outer, std::u16string_view inner);

// True when a folder between the drive root and the item is hidden, or
// cannot be read (gone already); the item itself is not looked at.
bool HasHiddenAncestor(IPathEnvironment& environment, std::u16string_view path);

bool IsIgnoredPath(IPathEnvironment& environment, std::u16string_view path);

}  // namespace pelko
