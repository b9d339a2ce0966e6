#include "SchemeRules.h"

#include <algorithm>
#include <climits>

#include "Labels.h"
#include "PathCompare.h"

namespace pelko {

bool IsSchemeFolderName(std::u16string_view name) { return name != u"." && name != u".." && name != u".svn"; }

void SortSchemeNames(std::vector<std::u16string>& names) {
  std::stable_sort(names.begin(), names.end(), [](const std::u16string& a, const std::u16string& b) {
    const int folded = ComparePaths(a, b);
    return folded != 0 ? folded < 0 : a < b;
  });
}

int ProfileNumber(std::u16string_view text) {
  std::size_t at = 0;
  while (at < text.size() && (text[at] == u' ' || (text[at] >= u'\t' && text[at] <= u'\r'))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == u'+' || text[at] == u'-')) negative = text[at++] == u'-';
  long long value = 0;
  for (; at < text.size() && text[at] >= u'0' && text[at] <= u'9'; ++at) {
    value = std::min<long long>(value * 10 + (text[at] - u'0'), static_cast<long long>(INT_MAX) + 1);
  }
  if (negative) value = -value;
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

int AppliedLabelCount(int labelCount) { return std::clamp(labelCount, 0, kLabelCount); }

}  // namespace pelko
