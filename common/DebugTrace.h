#pragma once
// The debug trace sink the label store and the change tracker write to. As
// shipped no sink is installed and every line is dropped before it is
// formatted; tests and debugging sessions install one to see the lines.

#include <initializer_list>
#include <string>
#include <string_view>

namespace pelko {

using DebugTraceSink = void (*)(std::u16string_view line);

// Installs a sink (nullptr removes it); returns the previous one.
DebugTraceSink SetDebugTraceSink(DebugTraceSink sink) noexcept;

// printf-style with %s only: each %s takes the next argument.
void DebugTrace(std::u16string_view format, std::initializer_list<std::u16string_view> args = {});

}  // namespace pelko
