#include "LabelIndex.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "LabelFileCodec_testing.h"

namespace pelko {
namespace {

TEST(FoldedPathHash, FoldsEveryUnitInEveryLaneAsFoldAsciiDoes) {
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) {
    for (int lane = 0; lane < 4; ++lane) {
      // Neighbours that fold (Z) and do not (0x805A, whose low bits are a Z).
      char16_t units[4] = {u'Z', static_cast<char16_t>(0x805A), u'a', u'@'};
      units[lane] = static_cast<char16_t>(unit);
      std::uint64_t word;
      std::memcpy(&word, units, sizeof word);
      const std::uint64_t folded = FoldAsciiUnits(word);
      char16_t result[4];
      std::memcpy(result, &folded, sizeof result);
      for (int i = 0; i < 4; ++i) ASSERT_EQ(result[i], FoldAscii(units[i])) << "unit " << unit << " in lane " << lane;
    }
  }
}

TEST(FoldedPathHash, EqualPathsHashAlikeAtEveryLength) {
  // Lengths 0 to 9 cover whole words and every tail.
  const std::u16string path = u"C:\\Ab\\Zz@[`{";
  for (std::size_t length = 0; length <= 9; ++length) {
    std::u16string upper = path.substr(0, length);
    std::u16string lower = upper;
    for (char16_t& unit : lower) unit = FoldAscii(unit);
    EXPECT_EQ(FoldedPathHash(upper), FoldedPathHash(lower)) << Printable(upper);
    EXPECT_NE(FoldedPathHash(upper), 0u);
  }
}

// Random inserts and erases against the ordered map itself, with the real
// hash and with hashes made to collide: every path in one run, runs that
// wrap past the last slot, a few crowded homes.
TEST(LabelIndex, FindsWhatTheMapHoldsThroughInsertsAndErases) {
  struct Hashing {
    const char* name;
    std::function<std::uint64_t(int id)> hash;
  };
  const Hashing hashings[] = {
      {"folded path hash", {}},
      {"one hash for all", [](int) { return ~std::uint64_t{0}; }},
      {"homes at the last slots", [](int id) { return ~std::uint64_t{0} - static_cast<std::uint64_t>(id % 3); }},
      {"four crowded homes", [](int id) { return (static_cast<std::uint64_t>(id % 4) << 62) | 1; }},
  };
  constexpr int kPaths = 300;
  std::vector<std::u16string> paths;
  for (int id = 0; id < kPaths; ++id) {
    const auto letter = static_cast<char16_t>(u'A' + id % 26);
    const std::u16string name(static_cast<std::size_t>(id / 26 + 1), u'x');
    paths.push_back(u"D:\\dir" + std::u16string(1, letter) + u"\\f" + name);
  }

  for (const Hashing& hashing : hashings) {
    SCOPED_TRACE(hashing.name);
    const auto hashOf = [&](int id) { return hashing.hash ? hashing.hash(id) : FoldedPathHash(paths[id]); };
    LabelMap map;
    LabelIndex index;
    std::mt19937 random(7);
    for (int step = 0; step < 8000; ++step) {
      const int id = static_cast<int>(random() % kPaths);
      // Erase a little less often than insert, so the table grows through several capacities.
      const auto found = map.find(paths[id]);
      if (found != map.end() && random() % 5 < 2) {
        index.Erase(found, hashOf(id));
        map.erase(found);
      } else if (found == map.end()) {
        index.Reserve(index.Size() + 1);
        index.Insert(map.emplace(paths[id], static_cast<LabelValue>(id)).first, hashOf(id));
      }
      if (step % 157 != 0) continue;
      ASSERT_EQ(index.Size(), map.size());
      ASSERT_LE(index.Size(), index.Capacity() / 4 * 3);
      for (int probe = 0; probe < kPaths; ++probe) {
        // Asked in another letter case, as callers do.
        std::u16string asked = paths[probe];
        for (char16_t& unit : asked) unit = FoldAscii(unit);
        const auto found = index.Find(asked, hashOf(probe));
        const auto expected = map.find(paths[probe]);
        ASSERT_EQ(found.has_value(), expected != map.end()) << "step " << step << ", " << Printable(paths[probe]);
        if (found) {
          ASSERT_TRUE(*found == expected);
        }
      }
    }
    index.Clear();
    EXPECT_EQ(index.Size(), 0u);
    EXPECT_FALSE(index.Find(paths[0], hashOf(0)).has_value());
  }
}

}  // namespace
}  // namespace pelko
