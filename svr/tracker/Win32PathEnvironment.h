#pragma once
// IPathEnvironment over the running system. The two folders are looked up
// once: they do not move while the service runs, and a lookup per change
// would cost more than the change.

#include "IgnoredPath.h"

namespace pelko {

class Win32PathEnvironment final : public IPathEnvironment {
 public:
  Win32PathEnvironment();
  std::optional<std::u16string> CommonAppDataFolder() override { return m_commonAppData; }
  std::optional<std::u16string> SystemFolder() override { return m_system; }
  std::uint32_t FileAttributes(std::u16string_view path) override;

 private:
  std::optional<std::u16string> m_commonAppData;
  std::optional<std::u16string> m_system;
};

}  // namespace pelko
