#include "MenuRules.h"

#include <algorithm>

namespace pelko {

bool ContextMenuAddsEntries(std::uint32_t flags) {
  constexpr std::uint32_t kDefaultOnly = 0x1, kVerbsOnly = 0x2, kExplore = 0x4;
  if (flags & kDefaultOnly) return false;
  if (flags & kVerbsOnly) return false;
  const std::uint32_t low = flags & 0xF;
  return low == 0 || (low & kExplore);
}

SubmenuPlan PlanSubmenu(const MenuModel& model, std::uint32_t firstId, std::uint32_t lastId) {
  SubmenuPlan plan;
  const std::uint32_t granted = lastId >= firstId ? lastId - firstId : 0;
  std::uint32_t highest = 0;  // the top entry's own offset
  for (const auto& [menuId, entry] : model.entries) {
    if (menuId <= 0 || static_cast<std::uint32_t>(menuId) > granted) continue;
    const auto offset = static_cast<std::uint32_t>(menuId);
    plan.entries.push_back({&entry, offset});
    if (!entry.IsSeparator()) highest = std::max(highest, offset);
  }
  plan.result = std::max<std::uint32_t>(static_cast<std::uint32_t>(plan.entries.size()) + 2, highest + 1);
  return plan;
}

CommandAction CommandForOffset(std::uint32_t offset) {
  if (offset == 0 || offset == 7) return {MenuCommand::ClearLabel, kNoLabel};
  if (offset >= kFirstLabel && offset <= kLastLabel) return {MenuCommand::SetLabel, offset};
  if (offset == 9) return {MenuCommand::ManageLabels, kNoLabel};
  if (offset == 10) return {MenuCommand::ShowAbout, kNoLabel};
  return {};
}

MenuIconPath IconPathFor(std::uint16_t osVersion, std::uint32_t flags) {
  if (osVersion >= 0x0600) return MenuIconPath::Bitmap;
  if (osVersion >= 0x0501 || (osVersion == 0x0500 && flags != 0)) return MenuIconPath::OwnerDraw;
  return MenuIconPath::CheckMark;
}

CommandStringReply CommandStringReplyFor(std::uint32_t requestType) {
  constexpr std::uint32_t kHelpTextA = 0x1, kValidate = 0x2, kUnicode = 0x4;
  if (!(requestType & (kHelpTextA | kUnicode))) return CommandStringReply::Invalid;
  if (requestType & kValidate) return CommandStringReply::Validate;
  return (requestType & kUnicode) ? CommandStringReply::UnicodeText : CommandStringReply::AnsiText;
}

bool IsSupportedPath(std::u16string_view path, const std::vector<std::u16string>& excludedFolders, CaseFolder fold) {
  auto sameIgnoringCase = [fold](std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [fold](char16_t x, char16_t y) {
             return fold(x) == fold(y);
           });
  };
  const std::u16string_view ending = path.size() > 4 ? path.substr(path.size() - 4) : path;
  if (sameIgnoringCase(ending, u".lnk")) return false;
  for (std::u16string_view folder : excludedFolders) {
    // "C:\Windows\" names C:\Windows too, the folder itself included.
    while (!folder.empty() && folder.back() == u'\\') folder.remove_suffix(1);
    if (folder.empty() || path.size() < folder.size()) continue;
    if (!sameIgnoringCase(path.substr(0, folder.size()), folder)) continue;
    if (path.size() == folder.size() || path[folder.size()] == u'\\') return false;
  }
  return true;
}

}  // namespace pelko
