#include "NotificationDecoder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Tracker_testing.h"

namespace pelko {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Records = std::vector<ChangeRecord>;

// FILE_NOTIFY_INFORMATION entries laid out as the system lays them out:
// each starts on a 4-byte boundary, names the next by its offset, and the
// last one's offset is 0.
class NotifyBuffer {
 public:
  NotifyBuffer& Entry(std::uint32_t action, std::u16string_view name) {
    m_entries.push_back({action, std::u16string(name)});
    return *this;
  }

  std::size_t OffsetOf(std::size_t index) const {
    std::size_t offset = 0;
    for (std::size_t i = 0; i < index; ++i) offset += PaddedSize(m_entries[i].name);
    return offset;
  }

  Bytes Build() const {
    Bytes bytes;
    for (std::size_t i = 0; i < m_entries.size(); ++i) {
      const auto& [action, name] = m_entries[i];
      const bool last = i + 1 == m_entries.size();
      Put(bytes, last ? 0 : static_cast<std::uint32_t>(PaddedSize(name)));
      Put(bytes, action);
      Put(bytes, static_cast<std::uint32_t>(name.size() * 2));
      for (char16_t unit : name) {
        bytes.push_back(static_cast<std::uint8_t>(unit));
        bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
      }
      if (!last) bytes.resize(OffsetOf(i + 1), 0xCD);  // padding is never read as a name
    }
    return bytes;
  }
  operator Bytes() const { return Build(); }

 private:
  struct Item {
    std::uint32_t action;
    std::u16string name;
  };
  static std::size_t PaddedSize(const std::u16string& name) { return (12 + name.size() * 2 + 3) / 4 * 4; }
  static void Put(Bytes& bytes, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes.push_back(static_cast<std::uint8_t>(value >> shift));
  }
  std::vector<Item> m_entries;
};

void Patch(Bytes& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

// Decodes from a heap block of exactly the buffer's size, so
// AddressSanitizer reports any read outside it.
Records DecodeExact(NotificationDecoder& decoder, const Bytes& bytes, std::uint64_t timeMs = 0) {
  const auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  Records records;
  decoder.Decode(std::span<const std::uint8_t>(exact.get(), bytes.size()), timeMs, records);
  return records;
}

const std::u16string kRoot = u"D:\\Data\\";

ChangeRecord Rec(std::uint32_t action, std::u16string_view name, std::u16string_view newName = {},
                 std::uint64_t timeMs = 0) {
  return {action, kRoot + std::u16string(name), newName.empty() ? u"" : kRoot + std::u16string(newName), timeMs};
}

// --- Well-formed buffers ---

TEST(NotificationDecoder, RootGetsOneTrailingBackslash) {
  for (const std::u16string root : {u"D:\\Data", u"D:\\Data\\"}) {
    NotificationDecoder decoder(root);
    EXPECT_EQ(decoder.DirectoryPath(), kRoot);
    EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(kItemAdded, u"a.txt")), Records{Rec(1, u"a.txt")});
  }
  NotificationDecoder drive(u"C:\\");
  EXPECT_EQ(DecodeExact(drive, NotifyBuffer().Entry(kItemAdded, u"a.txt"))[0].path, u"C:\\a.txt");
}

TEST(NotificationDecoder, EachSingleEntryBecomesOneRecord) {
  struct {
    std::uint32_t action;
    std::uint32_t recorded;
  } const cases[] = {
      {kItemAdded, kItemAdded},
      {kItemRemoved, kItemRemoved},
      {kItemModified, kItemModified},
      {kItemRenamedNewName, kItemAdded},  // renamed in from a place this root does not see
      {9, 9},                             // unknown: passed on for the applier to drop
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.action);
    NotificationDecoder decoder(kRoot);
    EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(c.action, u"sub\\n\u00E4me.txt"), 77),
              Records{Rec(c.recorded, u"sub\\n\u00E4me.txt", {}, 77)});
    EXPECT_FALSE(decoder.HasPendingOldName());
    EXPECT_EQ(decoder.MalformedBuffers(), 0u);
  }
}

TEST(NotificationDecoder, EntriesKeepTheirOrderAndPairsJoin) {
  NotificationDecoder decoder(kRoot);
  const Records records = DecodeExact(decoder, NotifyBuffer()
                                                   .Entry(kItemAdded, u"x.tmp")
                                                   .Entry(kItemRenamedOldName, u"plan.doc")
                                                   .Entry(kItemRenamedNewName, u"old\\plan.doc")
                                                   .Entry(kItemModified, u"x.tmp")
                                                   .Entry(kItemRenamedOldName, u"a")
                                                   .Entry(kItemAdded, u"b")
                                                   .Entry(kItemRenamedNewName, u"c"));
  EXPECT_EQ(records, (Records{Rec(1, u"x.tmp"), Rec(4, u"plan.doc", u"old\\plan.doc"), Rec(3, u"x.tmp"),
                              Rec(2, u"a"), Rec(1, u"b"), Rec(1, u"c")}));
  EXPECT_FALSE(decoder.HasPendingOldName());
}

TEST(NotificationDecoder, ThreeDeletionsInOneBuffer) {
  NotificationDecoder decoder(kRoot);
  EXPECT_EQ(DecodeExact(decoder, NotifyBuffer()
                                     .Entry(kItemRemoved, u"a.txt")
                                     .Entry(kItemRemoved, u"bb.txt")
                                     .Entry(kItemRemoved, u"ccc.txt")),
            (Records{Rec(2, u"a.txt"), Rec(2, u"bb.txt"), Rec(2, u"ccc.txt")}));
}

TEST(NotificationDecoder, ThreeHundredEntriesAllArrive) {
  NotifyBuffer buffer;
  Records expected;
  for (int i = 0; i < 300; ++i) {
    // Name lengths 1 to 7 units give every padding the layout has.
    const std::u16string name = std::u16string(1 + i % 7, u'a' + i % 26) + u'\\' + std::u16string(1, u'0' + i % 10) +
                                u"f" + std::u16string(1, static_cast<char16_t>(u'A' + i / 26));
    if (i % 10 == 9) {
      // The last of every ten is the new name of a rename whose old name came just before.
      expected.back() = Rec(4, expected.back().path.substr(kRoot.size()), name, 5);
      buffer.Entry(kItemRenamedNewName, name);
      continue;
    }
    const std::uint32_t action = i % 10 == 8 ? std::uint32_t{kItemRenamedOldName} : 1 + i % 3;
    buffer.Entry(action, name);
    expected.push_back(Rec(action, name, {}, 5));
  }
  NotificationDecoder decoder(kRoot);
  const Records records = DecodeExact(decoder, buffer, 5);
  EXPECT_EQ(records.size(), 270u);
  EXPECT_EQ(records, expected);
  EXPECT_EQ(decoder.MalformedBuffers(), 0u);
}

TEST(NotificationDecoder, LongNamesStayWhole) {
  for (std::size_t length : {1039u, 1040u, 5000u, 32767u}) {
    SCOPED_TRACE(length);
    // Units that differ along the name, so a cut or a shift shows.
    std::u16string name;
    for (std::size_t i = 0; i < length; ++i) name += static_cast<char16_t>(u'a' + i % 26);
    name[length - 1] = u'\u00FF';
    std::u16string renamed = name;
    renamed[0] = u'Z';

    NotificationDecoder decoder(kRoot);
    EXPECT_EQ(DecodeExact(decoder, NotifyBuffer()
                                       .Entry(kItemAdded, name)
                                       .Entry(kItemRemoved, u"after.txt")
                                       .Entry(kItemRenamedOldName, name)),
              (Records{Rec(1, name), Rec(2, u"after.txt")}));
    EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedNewName, renamed)),
              Records{Rec(4, name, renamed)});
  }
}

// --- Renames split across buffers ---

TEST(NotificationDecoder, PairSplitAcrossTwoBuffersJoins) {
  NotificationDecoder decoder(kRoot);
  EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(kItemAdded, u"x").Entry(kItemRenamedOldName, u"old.txt"), 10),
            Records{Rec(1, u"x", {}, 10)});
  EXPECT_TRUE(decoder.HasPendingOldName());
  EXPECT_EQ(decoder.PendingSinceMs(), 10u);

  const Records second =
      DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedNewName, u"new.txt").Entry(kItemRemoved, u"y"), 20);
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].action, kItemRenamedOldName);
  EXPECT_EQ(second[0].path, kRoot + u"old.txt");
  EXPECT_EQ(second[0].secondPath, kRoot + u"new.txt");
  EXPECT_EQ(second[1], Rec(2, u"y", {}, 20));
  EXPECT_FALSE(decoder.HasPendingOldName());
}

TEST(NotificationDecoder, HeldOldNameWithoutItsPartnerIsARemoval) {
  struct {
    const char* name;
    NotifyBuffer next;
    Records expected;
    bool stillPending;
  } const cases[] = {
      {"addition", NotifyBuffer().Entry(kItemAdded, u"new.txt"), {Rec(2, u"old.txt"), Rec(1, u"new.txt")}, false},
      {"removal", NotifyBuffer().Entry(kItemRemoved, u"z"), {Rec(2, u"old.txt"), Rec(2, u"z")}, false},
      {"modification", NotifyBuffer().Entry(kItemModified, u"z"), {Rec(2, u"old.txt"), Rec(3, u"z")}, false},
      {"another old name", NotifyBuffer().Entry(kItemRenamedOldName, u"o2"), {Rec(2, u"old.txt")}, true},
      {"another pair",
       NotifyBuffer().Entry(kItemRenamedOldName, u"o2").Entry(kItemRenamedNewName, u"n2"),
       {Rec(2, u"old.txt"), Rec(4, u"o2", u"n2")},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NotificationDecoder decoder(kRoot);
    EXPECT_TRUE(DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedOldName, u"old.txt")).empty());
    EXPECT_EQ(DecodeExact(decoder, c.next), c.expected);
    EXPECT_EQ(decoder.HasPendingOldName(), c.stillPending);
  }
}

TEST(NotificationDecoder, ExpiredOldNameIsARemovalOnce) {
  NotificationDecoder decoder(kRoot);
  Records records;
  decoder.ExpirePendingOldName(records);
  EXPECT_TRUE(records.empty());

  DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedOldName, u"old.txt"), 3);
  decoder.ExpirePendingOldName(records);
  decoder.ExpirePendingOldName(records);
  EXPECT_EQ(records, Records{Rec(2, u"old.txt", {}, 3)});
  EXPECT_FALSE(decoder.HasPendingOldName());
  // Its partner arriving late is only an addition now.
  EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedNewName, u"new.txt"), 4),
            Records{Rec(1, u"new.txt", {}, 4)});
}

TEST(NotificationDecoder, OverflowDropsTheHeldOldName) {
  NotificationDecoder decoder(kRoot);
  DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedOldName, u"old.txt"));
  decoder.Overflowed();
  EXPECT_FALSE(decoder.HasPendingOldName());
  Records records;
  decoder.ExpirePendingOldName(records);
  EXPECT_TRUE(records.empty());
  // The new name that follows the lost changes cannot be paired.
  EXPECT_EQ(DecodeExact(decoder, NotifyBuffer().Entry(kItemRenamedNewName, u"new.txt")),
            Records{Rec(1, u"new.txt")});
}

// --- Malformed buffers ---

TEST(NotificationDecoder, MalformedBufferKeepsTheEntriesBeforeTheFault) {
  const NotifyBuffer three = NotifyBuffer().Entry(kItemAdded, u"a.txt").Entry(kItemRemoved, u"bb").Entry(kItemModified, u"c");
  const Bytes good = three;
  const std::size_t second = three.OffsetOf(1);
  const std::size_t third = three.OffsetOf(2);
  const Records none;
  const Records first{Rec(1, u"a.txt")};
  const Records firstTwo{Rec(1, u"a.txt"), Rec(2, u"bb")};
  const Records all{Rec(1, u"a.txt"), Rec(2, u"bb"), Rec(3, u"c")};

  struct {
    const char* name;
    Bytes bytes;
    Records expected;
  } cases[] = {
      {"shorter than a header", Bytes(good.begin(), good.begin() + 11), none},
      {"second header cut short", Bytes(good.begin(), good.begin() + second + 8), first},
      {"second name cut short", Bytes(good.begin(), good.begin() + second + 13), first},
      {"odd name length", good, first},
      {"name runs past the end", good, firstTwo},
      {"name length near 2^32", good, first},
      {"next offset inside its own header", good, first},
      {"next offset past the end", good, first},
      {"next offset near 2^32", good, first},
      {"last entry names a next one at the end", good, all},
  };
  Patch(cases[3].bytes, second + 8, 3);
  Patch(cases[4].bytes, third + 8, 4);
  Patch(cases[5].bytes, second + 8, 0xFFFFFFFE);
  Patch(cases[6].bytes, second, 4);
  Patch(cases[7].bytes, second, static_cast<std::uint32_t>(good.size() - second + 4));
  Patch(cases[8].bytes, second, 0xFFFFFFFC);
  Patch(cases[9].bytes, third, static_cast<std::uint32_t>(good.size() - third));

  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    NotificationDecoder decoder(kRoot);
    EXPECT_EQ(DecodeExact(decoder, c.bytes), c.expected);
    EXPECT_EQ(decoder.MalformedBuffers(), 1u);
    // The next buffer is decoded as usual.
    EXPECT_EQ(DecodeExact(decoder, good), all);
    EXPECT_EQ(decoder.MalformedBuffers(), 1u);
  }
}

}  // namespace
}  // namespace pelko
