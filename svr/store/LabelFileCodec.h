#pragma once
// The labels.lst codec: a little-endian header (magic 2009, version 1, signed
// record count) and records of (signed byte length, UTF-16 path units without
// terminator, unsigned label), in path order.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
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

// Calls add(path, label) for every record in file order. A path ends at its
// first zero unit. Never reads outside bytes.
DecodeResult DecodeLabelFile(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion,
                             const std::function<void(std::u16string_view path, LabelValue label)>& add);

// Receives the encoded file in pieces; returns false to abandon the write.
using ByteSink = std::function<bool(std::span<const std::uint8_t>)>;

// Writes the header and one record per (path, label) with a non-empty path.
class LabelFileEncoder {
 public:
  explicit LabelFileEncoder(const ByteSink& sink) : m_sink(sink) {}
  bool Begin(std::int32_t version, std::int32_t count);
  bool Record(std::u16string_view path, LabelValue label);
  bool Finish();

 private:
  bool PutInt32(std::uint32_t value);
  bool Put(const std::uint8_t* data, std::size_t size);
  bool Flush();

  const ByteSink& m_sink;
  std::vector<std::uint8_t> m_chunk = std::vector<std::uint8_t>(64 * 1024);
  std::size_t m_used = 0;
};

}  // namespace pelko
