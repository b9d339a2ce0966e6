#pragma once
// IProfileReader over the private-profile functions. With no file path
// (the folder is unknown) every read gives its default: the functions
// would otherwise read win.ini.

#include <string>

#include "ExtensionConfig.h"

namespace pelko {

class Win32Profile final : public IProfileReader {
 public:
  explicit Win32Profile(std::wstring path) : m_path(std::move(path)) {}
  std::int32_t ReadInt(std::u16string_view section, std::u16string_view key, std::int32_t defaultValue) override;
  std::u16string ReadString(std::u16string_view section, std::u16string_view key,
                            std::u16string_view defaultValue) override;

 private:
  std::wstring m_path;
};

}  // namespace pelko
