#include "LabelFileCodec.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LabelFileCodec_testing.h"

namespace pelko {
namespace {

using Bytes = std::vector<std::uint8_t>;

// C:\a.txt label 1 and D:\Work\Plan label 4, written out by hand.
const Bytes kWorkedExample = {
    0xd9, 0x07, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // magic, version, count
    0x10, 0x00, 0x00, 0x00,                                                  // 16 bytes of path
    'C', 0, ':', 0, '\\', 0, 'a', 0, '.', 0, 't', 0, 'x', 0, 't', 0,         //
    0x01, 0x00, 0x00, 0x00,                                                  // label 1
    0x18, 0x00, 0x00, 0x00,                                                  // 24 bytes of path
    'D', 0, ':', 0, '\\', 0, 'W', 0, 'o', 0, 'r', 0,                         //
    'k', 0, '\\', 0, 'P', 0, 'l', 0, 'a', 0, 'n', 0,                         //
    0x04, 0x00, 0x00, 0x00,                                                  // label 4
};
const std::vector<LabelEntry> kWorkedEntries = {{u"C:\\a.txt", 1}, {u"D:\\Work\\Plan", 4}};

TEST(LabelFile, WorkedExampleEncodesToTheExactBytes) {
  ASSERT_EQ(kWorkedExample.size(), 68u);
  EXPECT_EQ(EncodeEntries(kWorkedEntries), kWorkedExample);
}

TEST(LabelFile, WorkedExampleDecodesInItsLetterCase) {
  const Decoded decoded = DecodeEntries(kWorkedExample);
  EXPECT_EQ(decoded.result.status, DecodeStatus::Complete);
  EXPECT_EQ(decoded.result.recordsRead, 2u);
  EXPECT_EQ(decoded.records, kWorkedEntries);
}

TEST(LabelFile, EmptyTableIsTheTwelveByteHeader) {
  const Bytes empty = {0xd9, 0x07, 0, 0, 0x01, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(EncodeEntries({}), empty);
  const Decoded decoded = DecodeEntries(empty);
  EXPECT_EQ(decoded.result.status, DecodeStatus::Complete);
  EXPECT_TRUE(decoded.records.empty());
}

TEST(LabelFile, EveryUtf16UnitAndLabelValueSurvivesTheTrip) {
  const std::vector<LabelEntry> entries = {
      {u"C:\\\U0001F600\\smile.txt", 1},         // surrogate pair
      {u"C:\\\u00C4rger\\\u65E5\u672C.doc", 42},  // BMP letters outside ASCII
      {u"C:\\lone\xD800", 6},                     // unpaired high surrogate, last unit
      {u"C:\\\xDC00lone", 0x80000000u},           // unpaired low surrogate
      {u"C:\\\uFEFF\uFFFF", 0xFFFFFFFFu},         // BOM and the largest unit
  };
  const Decoded decoded = DecodeEntries(EncodeEntries(entries));
  EXPECT_EQ(decoded.result.status, DecodeStatus::Complete);
  EXPECT_EQ(decoded.records, entries);
}

TEST(LabelFile, UnitsAreWrittenLittleEndian) {
  const Bytes expected = FileBytes().Header(1).Raw({4, 0, 0, 0, 0x3d, 0xd8, 0x00, 0xde}).Int32(2);
  EXPECT_EQ(EncodeEntries({{u"\U0001F600", 2}}), expected);
}

TEST(LabelFile, LargeFilesArriveWholeAcrossWriteChunks) {
  // Path lengths vary so records straddle the encoder's chunk boundaries.
  std::vector<LabelEntry> entries;
  for (int i = 0; i < 5000; ++i) {
    std::u16string path = u"D:\\Projects\\p" + std::u16string(static_cast<std::size_t>(i % 37), u'x');
    path += static_cast<char16_t>(u'a' + i % 26);
    path += u"\\file" + std::u16string(1, static_cast<char16_t>(0x4E00 + i));
    entries.push_back({path, static_cast<LabelValue>(i % 7 + 1)});
  }
  const Bytes bytes = EncodeEntries(entries);
  EXPECT_GT(bytes.size(), 4u * 64 * 1024);
  const Decoded decoded = DecodeEntries(bytes);
  EXPECT_EQ(decoded.result.status, DecodeStatus::Complete);
  EXPECT_EQ(decoded.records, entries);
}

TEST(LabelFile, EncoderReportsARefusingSink) {
  // One record fits the first chunk, refused at Finish; 4000 records need
  // several chunks, and the second one is refused.
  for (std::size_t recordCount : {std::size_t{1}, std::size_t{4000}}) {
    int calls = 0;
    const ByteSink sink = [&](std::span<const std::uint8_t>) { return recordCount > 1 && ++calls == 1; };
    LabelFileEncoder encoder(sink);
    bool ok = encoder.Begin(LABELS_VERSION, static_cast<std::int32_t>(recordCount));
    for (std::size_t i = 0; i < recordCount && ok; ++i) ok = encoder.Record(u"D:\\some\\fairly\\long\\path.txt", 1);
    ok = ok && encoder.Finish();
    EXPECT_FALSE(ok) << recordCount << " records";
  }
}

TEST(LabelFile, PathEndsAtItsFirstZeroUnitButTheRecordKeepsItsLength) {
  const Bytes file = FileBytes()
                         .Header(3)
                         .Record(std::u16string(u"C:\\a\0junk", 9), 1)
                         .Record(std::u16string(u"\0\0", 2), 2)
                         .Record(u"C:\\b", 3);
  const Decoded decoded = DecodeEntries(file);
  EXPECT_EQ(decoded.result.status, DecodeStatus::Complete);
  EXPECT_EQ(decoded.records, (std::vector<LabelEntry>{{u"C:\\a", 1}, {u"", 2}, {u"C:\\b", 3}}));
}

TEST(LabelFile, DuplicateRecordsAreAllDeliveredInFileOrder) {
  const Bytes file = FileBytes().Header(2).Record(u"C:\\X", 1).Record(u"c:\\x", 2);
  const Decoded decoded = DecodeEntries(file);
  EXPECT_EQ(decoded.records, (std::vector<LabelEntry>{{u"C:\\X", 1}, {u"c:\\x", 2}}));
}

TEST(LabelFile, EmptyInputWithoutABuffer) {
  int records = 0;
  const DecodeResult result =
      DecodeLabelFile(std::span<const std::uint8_t>(), LABELS_VERSION, [&](std::u16string_view, LabelValue) { ++records; });
  EXPECT_EQ(result.status, DecodeStatus::BadMagic);
  EXPECT_EQ(records, 0);
}

struct MalformedCase {
  const char* name;
  Bytes bytes;
  DecodeStatus status;
  std::vector<LabelEntry> kept;
  std::size_t damageOffset = 0;  // checked for Partial only
};

const std::u16string kGood = u"C:\\a.txt";
const std::size_t kAfterGood = 12 + 4 + 16 + 4;

TEST(LabelFile, MalformedFiles) {
  const MalformedCase cases[] = {
      {"odd length", FileBytes().Header(2).Record(kGood, 1).Int32(3).Raw({'b', 0, 'c'}).Int32(2),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"negative length", FileBytes().Header(2).Record(kGood, 1).Int32(-2).Units(u"xy").Int32(2),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"length past the end", FileBytes().Header(2).Record(kGood, 1).Int32(1000).Units(u"C:\\b").Int32(2),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"path cut by the end", FileBytes().Header(2).Record(kGood, 1).Int32(16).Units(u"C:\\b"),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"label cut by the end", FileBytes().Header(2).Record(kGood, 1).Int32(8).Units(u"C:\\b").Raw({2, 0}),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"length cut by the end", FileBytes().Header(2).Record(kGood, 1).Raw({8, 0}),
       DecodeStatus::Partial, {{kGood, 1}}, kAfterGood},
      {"damage in the first record", FileBytes().Header(1).Int32(5).Units(u"abc").Int32(1),
       DecodeStatus::Partial, {}, 12},
      {"count 3 with two records", FileBytes().Header(3).Record(kGood, 1).Record(u"C:\\b", 2),
       DecodeStatus::Complete, {{kGood, 1}, {u"C:\\b", 2}}},
      {"count 1 with two records", FileBytes().Header(1).Record(kGood, 1).Record(u"C:\\b", 2),
       DecodeStatus::Complete, {{kGood, 1}}},
      {"version 2", FileBytes().Header(1, 2).Record(kGood, 1), DecodeStatus::BadVersion, {}},
      {"wrong magic", FileBytes().Header(1, 1, 2010).Record(kGood, 1), DecodeStatus::BadMagic, {}},
      {"negative count", FileBytes().Header(-1).Record(kGood, 1), DecodeStatus::NegativeCount, {}},
      {"no bytes at all", {}, DecodeStatus::BadMagic, {}},
      {"one byte", {0xd9}, DecodeStatus::BadMagic, {}},
      // The missing magic bytes read as zero, so "d9 07" is the magic and
      // the absent version reads as 0.
      {"two bytes", {0xd9, 0x07}, DecodeStatus::BadVersion, {}},
      {"three bytes", {0xd9, 0x07, 0x00}, DecodeStatus::BadVersion, {}},
      {"no count field", FileBytes().Int32(LABELS_MAGIC).Int32(LABELS_VERSION), DecodeStatus::Complete, {}},
      {"count cut short", FileBytes().Int32(LABELS_MAGIC).Int32(LABELS_VERSION).Raw({2}), DecodeStatus::Complete, {}},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Decoded decoded = DecodeEntries(c.bytes);
    EXPECT_EQ(decoded.result.status, c.status);
    EXPECT_EQ(decoded.records, c.kept);
    EXPECT_EQ(decoded.result.recordsRead, c.kept.size());
    if (c.status == DecodeStatus::Partial) {
      EXPECT_EQ(decoded.result.damageOffset, c.damageOffset);
    }
    EXPECT_EQ(LoadSucceeded(decoded.result.status),
              c.status == DecodeStatus::Complete || c.status == DecodeStatus::Partial);
  }
}

TEST(LabelFile, EveryTruncationOfTheWorkedExample) {
  // Boundaries: 2 and 5 bytes make a zero-filled magic and version whole;
  // 9 bytes give the count; records end at 36 and 68.
  for (std::size_t size = 0; size <= kWorkedExample.size(); ++size) {
    SCOPED_TRACE(size);
    DecodeStatus status = DecodeStatus::Partial;
    std::size_t records = size >= 68 ? 2 : size >= 36 ? 1 : 0;
    if (size < 2) {
      status = DecodeStatus::BadMagic;
    } else if (size < 5) {
      status = DecodeStatus::BadVersion;
    } else if (size <= 12 || size == 36 || size == 68) {
      status = DecodeStatus::Complete;
    }
    const Decoded decoded = DecodeEntries(std::span(kWorkedExample).first(size));
    EXPECT_EQ(decoded.result.status, status);
    ASSERT_EQ(decoded.records.size(), records);
    for (std::size_t i = 0; i < records; ++i) EXPECT_EQ(decoded.records[i], kWorkedEntries[i]);
  }
}

}  // namespace
}  // namespace pelko
