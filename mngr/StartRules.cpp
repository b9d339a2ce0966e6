#include "StartRules.h"

#include "PathCompare.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace pelko {
namespace {

bool EqualsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           return FoldAscii(x) == FoldAscii(y);
         });
}

// 64-bit, so that edges near the ends of int cannot overflow.
struct Box {
  std::int64_t left, top, right, bottom;
};

Box ToBox(const Rect& r) noexcept { return {r.left, r.top, r.right, r.bottom}; }
bool IsEmpty(const Box& b) noexcept { return b.right <= b.left || b.bottom <= b.top; }

}  // namespace

StartMode StartModeFromArguments(const std::vector<std::u16string>& argumentsAfterProgramName) {
  if (argumentsAfterProgramName.size() != 1) return StartMode::Normal;
  std::u16string_view argument = argumentsAfterProgramName.front();
  if (!argument.empty() && (argument.front() == u'-' || argument.front() == u'/')) argument.remove_prefix(1);
  return EqualsIgnoringAsciiCase(argument, u"About") ? StartMode::AboutOnly : StartMode::Normal;
}

bool PlacementIsOnSomeMonitor(const Rect& window, const std::vector<Rect>& monitorWorkAreas) {
  Box band = ToBox(window);
  if (IsEmpty(band)) return false;
  band.bottom = std::min(band.bottom, band.top + kTitleBandHeight);
  const std::int64_t needed = std::min<std::int64_t>(band.right - band.left, kGrabWidth);

  return std::any_of(monitorWorkAreas.begin(), monitorWorkAreas.end(), [&](const Rect& area) {
    const Box monitor = ToBox(area);
    if (IsEmpty(monitor)) return false;
    const std::int64_t width = std::min(band.right, monitor.right) - std::max(band.left, monitor.left);
    const std::int64_t height = std::min(band.bottom, monitor.bottom) - std::max(band.top, monitor.top);
    return width >= needed && height > 0;
  });
}

}  // namespace pelko
