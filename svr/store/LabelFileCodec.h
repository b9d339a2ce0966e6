#pragma once
// The labels.lst codec: a little-endian header (magic 2009, version 1, signed
// record count) and records of (signed byte length, UTF-16 path units without
// terminator, unsigned label), in path order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Labels.h"

namespace pelko {

inline constexpr std::int32_t LABELS_MAGIC = 2009;
inline constexpr std::int32_t LABELS_VERSION = 1;
inline constexpr std::size_t kLabelsHeaderSize = 12;

enum class DecodeStatus {
  Complete,       // every record present was read (a file may end early at a record boundary)
  Partial,        // damage after some records: those before it were read
  BadMagic,
  BadVersion,
  NegativeCount,
};

struct DecodeResult {
  DecodeStatus status = DecodeStatus::Complete;
  std::size_t recordsRead = 0;
  std::size_t damageOffset = 0;  // where a Partial load stopped
};

bool LoadSucceeded(DecodeStatus status);

// Reads the records one at a time, in file order, without a call through
// std::function or an allocation per record. A path ends at its first zero
// unit. Never reads outside bytes.
class LabelFileReader {
 public:
  // Reads the header; a header that is no good leaves no records to read.
  LabelFileReader(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion);

  // The record count the header gives (0 when the header is no good).
  std::int32_t Count() const { return m_count; }
  // The next record; path stays valid until the next call. False at the
  // end, at damage, or after a header that is no good: Result() says which.
  bool Next(std::u16string_view& path, LabelValue& label);
  const DecodeResult& Result() const { return m_result; }

 private:
  std::size_t Remaining() const { return m_bytes.size() - m_offset; }
  std::uint32_t ZeroFilledUInt32();
  bool UInt32(std::uint32_t& value);

  std::span<const std::uint8_t> m_bytes;
  std::size_t m_offset = 0;
  std::int32_t m_count = 0;
  DecodeResult m_result;
  std::u16string m_path;  // the current record's path, its buffer reused
};

// Calls add(path, label) for every record, as LabelFileReader reads them.
DecodeResult DecodeLabelFile(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion,
                             const std::function<void(std::u16string_view path, LabelValue label)>& add);

// Receives the encoded file in pieces; returns false to abandon the write.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

// Writes the header and one record per (path, label) with a non-empty path.
// The bytes go to the sink a chunk at a time: when a chunk is full, at
// Flush and at Finish.
class LabelFileEncoder {
 public:
  explicit LabelFileEncoder(const ByteSink& sink, std::size_t chunkBytes = 64 * 1024)
      : m_sink(sink), m_chunk(chunkBytes) {}
  bool Begin(std::int32_t version, std::int32_t count);
  bool Record(std::u16string_view path, LabelValue label);
  bool Finish() { return Flush(); }

  // True when a record of pathUnits units goes into the chunk without
  // reaching the sink, or when the chunk is empty (a record larger than a
  // chunk goes through it in pieces).
  bool Fits(std::size_t pathUnits) const {
    return m_used == 0 || m_chunk.size() - m_used >= pathUnits * sizeof(char16_t) + 8;
  }
  // Hands what is in the chunk to the sink.
  bool Flush();

 private:
  bool PutInt32(std::uint32_t value);
  bool Put(const std::uint8_t* data, std::size_t size);

  const ByteSink& m_sink;
  std::vector<std::uint8_t> m_chunk;
  std::size_t m_used = 0;
};

}  // namespace pelko
