#include "LabelFileCodec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace pelko {
namespace {

// Reads little-endian 32-bit fields; a field the file does not supply in
// full is reported as missing instead of being read past the end.
class FieldReader {
 public:
  explicit FieldReader(std::span<const std::uint8_t> bytes) : m_bytes(bytes) {}

  std::size_t offset() const { return m_offset; }
  std::size_t remaining() const { return m_bytes.size() - m_offset; }
  bool AtEnd() const { return m_offset == m_bytes.size(); }

  // Like the original reader: missing bytes read as zero.
  std::uint32_t ZeroFilledUInt32() {
    std::uint8_t raw[4] = {};
    const std::size_t n = remaining() < 4 ? remaining() : 4;
    // An empty file may have no buffer, and memcpy from null is undefined even for 0 bytes.
    if (n > 0) std::memcpy(raw, m_bytes.data() + m_offset, n);
    m_offset += n;
    return Assemble(raw);
  }

  bool UInt32(std::uint32_t& value) {
    if (remaining() < 4) return false;
    value = Assemble(m_bytes.data() + m_offset);
    m_offset += 4;
    return true;
  }

  const std::uint8_t* Take(std::size_t size) {
    const std::uint8_t* at = m_bytes.data() + m_offset;
    m_offset += size;
    return at;
  }

 private:
  static std::uint32_t Assemble(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
  }

  std::span<const std::uint8_t> m_bytes;
  std::size_t m_offset = 0;
};

}  // namespace

bool LoadSucceeded(DecodeStatus status) { return status == DecodeStatus::Complete || status == DecodeStatus::Partial; }

DecodeResult DecodeLabelFile(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion,
                             const std::function<void(std::u16string_view, LabelValue)>& add) {
  FieldReader reader(bytes);
  DecodeResult result;
  if (static_cast<std::int32_t>(reader.ZeroFilledUInt32()) != LABELS_MAGIC) {
    result.status = DecodeStatus::BadMagic;
    return result;
  }
  if (static_cast<std::int32_t>(reader.ZeroFilledUInt32()) != expectedVersion) {
    result.status = DecodeStatus::BadVersion;
    return result;
  }
  const auto count = static_cast<std::int32_t>(reader.ZeroFilledUInt32());
  if (count < 0) {
    result.status = DecodeStatus::NegativeCount;
    return result;
  }

  std::u16string path;
  for (std::int32_t i = 0; i < count; ++i) {
    // A file that ends at a record boundary before count records ends the
    // load normally: the missing records would read as empty, adding nothing.
    if (reader.AtEnd()) break;
    const std::size_t recordStart = reader.offset();
    std::uint32_t lengthField = 0;
    const bool haveLength = reader.UInt32(lengthField);
    const auto length = static_cast<std::int32_t>(lengthField);
    // Odd, negative or overlong lengths, and a record cut short by the end
    // of the file, have no defined path: stop at the damage.
    if (!haveLength || length < 0 || length % 2 != 0 ||
        static_cast<std::size_t>(length) + 4 > reader.remaining()) {
      result.status = DecodeStatus::Partial;
      result.damageOffset = recordStart;
      return result;
    }
    const std::uint8_t* units = reader.Take(static_cast<std::size_t>(length));
    path.assign(static_cast<std::size_t>(length) / 2, u'\0');
    std::memcpy(path.data(), units, static_cast<std::size_t>(length));  // both hosts are little-endian
    const std::size_t zero = path.find(u'\0');
    if (zero != std::u16string::npos) path.resize(zero);
    std::uint32_t label = 0;
    reader.UInt32(label);
    add(path, label);
    ++result.recordsRead;
  }
  return result;
}

bool LabelFileEncoder::Begin(std::int32_t version, std::int32_t count) {
  return PutInt32(static_cast<std::uint32_t>(LABELS_MAGIC)) && PutInt32(static_cast<std::uint32_t>(version)) &&
         PutInt32(static_cast<std::uint32_t>(count));
}

bool LabelFileEncoder::Record(std::u16string_view path, LabelValue label) {
  const std::size_t byteLength = path.size() * sizeof(char16_t);
  return PutInt32(static_cast<std::uint32_t>(byteLength)) &&
         Put(reinterpret_cast<const std::uint8_t*>(path.data()), byteLength) && PutInt32(label);
}

bool LabelFileEncoder::Finish() { return Flush(); }

bool LabelFileEncoder::PutInt32(std::uint32_t value) {
  const std::uint8_t raw[4] = {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
                               static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  return Put(raw, sizeof raw);
}

bool LabelFileEncoder::Put(const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    if (m_used == m_chunk.size() && !Flush()) return false;
    const std::size_t n = std::min(size, m_chunk.size() - m_used);
    std::memcpy(m_chunk.data() + m_used, data, n);
    m_used += n;
    data += n;
    size -= n;
  }
  return true;
}

bool LabelFileEncoder::Flush() {
  if (m_used == 0) return true;
  const bool written = m_sink(std::span<const std::uint8_t>(m_chunk.data(), m_used));
  m_used = 0;
  return written;
}

}  // namespace pelko
