#include "Labels.h"
#include "Utf16.h"

#include <gtest/gtest.h>

namespace pelko {
namespace {

TEST(Utf16, RoundTripsEveryKindOfUnit) {
  // ASCII, a BMP letter, a surrogate pair (U+1F600) and a lone surrogate.
  const std::u16string text = u"C:\\\u00C4\U0001F600x\xD800y";
  EXPECT_EQ(ToU16(ToWide(text)), text);
  EXPECT_EQ(ToWide(u"").size(), 0u);
  EXPECT_EQ(ToWide(u"C:\\a"), std::wstring(L"C:\\a"));
}

TEST(Utf16, NullCallerStringIsEmpty) {
  EXPECT_TRUE(WideView(nullptr).empty());
  EXPECT_EQ(WideView(L"ab"), std::wstring_view(L"ab"));
}

TEST(Labels, SectionRule) {
  EXPECT_EQ(LabelMenuSection(kLabelRed), 2);
  EXPECT_EQ(LabelMenuSection(kLabelGray), 7);
  EXPECT_EQ(LabelMenuSection(kNoLabel), 0);
  EXPECT_EQ(LabelMenuSection(7), 0);
}

}  // namespace
}  // namespace pelko
