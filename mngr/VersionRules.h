#pragma once
// Whether the maker's version file names a newer version than this one.
// The file is small text; only a dotted version counts.

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace pelko {

// The version this program compares against: the version resources' own.
using DottedVersion = std::array<std::uint16_t, 4>;

// "1.0.0.2", "2.0", " 1.0.0.10\r\n": one to four parts of decimal digits,
// each at most 65535, separated by single dots, white space and line
// breaks trimmed at both ends; missing parts are 0. Anything else (letters,
// empty, five parts, "1..2", "+1", "1.0.0.65536") is no version.
std::optional<DottedVersion> ParseDottedVersion(std::string_view text);

// True only when downloaded is a version and greater than current, part by
// part from the left.
bool IsNewerVersion(std::string_view downloaded, const DottedVersion& current);

}  // namespace pelko
