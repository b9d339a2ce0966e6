#include "VersionRules.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace pelko {
namespace {

constexpr DottedVersion kThisVersion{1, 0, 0, 2};

TEST(DottedVersion, NumbersCompareAsNumbersPartByPart) {
  struct Case {
    std::string text;
    bool newer;
  } const cases[] = {
      {"1.0.0.3", true},
      {"1.0.0.2", false},
      {"1.0.0.10", true},  // ten, not "1" then "0"
      {"1.0.0.1", false},
      {"2.0", true},  // missing parts are 0
      {"1.0", false},
      {"1", false},
      {"1.1", true},
      {"0.9.9.99", false},
      {"01.0.0.3", true},  // leading zeros are still numbers
      {"1.0.0.2\r\n", false},  // trimmed, not "longer"
      {"\t 1.0.0.3 \n", true},
      {"65535.0.0.0", true},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsNewerVersion(c.text, kThisVersion), c.newer) << "[" << c.text << "]";
  }
}

TEST(DottedVersion, AnythingButADottedVersionIsNoVersion) {
  const std::vector<std::string> texts = {"", " \r\n", "garbage", "v1.0.0.3", "1.0.0.3a", "1.0.0.3.1", "1..0", ".1", "1.",
                                 "+2", "-2.0", "2,0", "1.0.0.65536", "99999999999999999999", "2.0\r\n3.0",
                                 std::string("2.0\0", 4), "<html>2.0</html>"};
  for (const std::string& text : texts) {
    EXPECT_EQ(ParseDottedVersion(text), std::nullopt) << "[" << text << "]";
    EXPECT_FALSE(IsNewerVersion(text, kThisVersion)) << "[" << text << "]";
  }
}

TEST(DottedVersion, PartsAreReadInOrder) {
  EXPECT_EQ(ParseDottedVersion("3.14.159.2653"), (DottedVersion{3, 14, 159, 2653}));
  EXPECT_EQ(ParseDottedVersion("7"), (DottedVersion{7, 0, 0, 0}));
  EXPECT_EQ(ParseDottedVersion("0.0.0.65535"), (DottedVersion{0, 0, 0, 65535}));
}

}  // namespace
}  // namespace pelko
