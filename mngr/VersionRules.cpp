#include "VersionRules.h"

namespace pelko {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

}  // namespace

std::optional<DottedVersion> ParseDottedVersion(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (text.empty()) return std::nullopt;

  DottedVersion version{};
  std::size_t part = 0;
  std::uint32_t value = 0;
  bool digitsInPart = false;
  for (const char c : text) {
    if (c == '.') {
      if (!digitsInPart || ++part == version.size()) return std::nullopt;
      value = 0;
      digitsInPart = false;
      continue;
    }
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
    if (value > 0xFFFF) return std::nullopt;
    version[part] = static_cast<std::uint16_t>(value);
    digitsInPart = true;
  }
  if (!digitsInPart) return std::nullopt;  // "1.0."
  return version;
}

bool IsNewerVersion(std::string_view downloaded, const DottedVersion& current) {
  const std::optional<DottedVersion> version = ParseDottedVersion(downloaded);
  return version && *version > current;
}

}  // namespace pelko
