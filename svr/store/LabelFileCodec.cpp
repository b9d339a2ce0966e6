#include "LabelFileCodec.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace pelko {
namespace {

std::uint32_t LoadUInt32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}

void StoreUInt32(std::uint8_t* p, std::uint32_t value) {
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

}  // namespace

bool LoadSucceeded(DecodeStatus status) { return status == DecodeStatus::Complete || status == DecodeStatus::Partial; }

// Like the original reader: missing bytes read as zero.
std::uint32_t LabelFileReader::ZeroFilledUInt32() {
  std::uint8_t raw[4] = {};
  const std::size_t n = std::min<std::size_t>(Remaining(), 4);
  // An empty file may have no buffer, and memcpy from null is undefined even for 0 bytes.
  if (n > 0) std::memcpy(raw, m_bytes.data() + m_offset, n);
  m_offset += n;
  return LoadUInt32(raw);
}

// A field the file does not supply in full is missing, never read past the end.
bool LabelFileReader::UInt32(std::uint32_t& value) {
  if (Remaining() < 4) return false;
  value = LoadUInt32(m_bytes.data() + m_offset);
  m_offset += 4;
  return true;
}

LabelFileReader::LabelFileReader(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion) : m_bytes(bytes) {
  if (static_cast<std::int32_t>(ZeroFilledUInt32()) != LABELS_MAGIC) {
    m_result.status = DecodeStatus::BadMagic;
    return;
  }
  if (static_cast<std::int32_t>(ZeroFilledUInt32()) != expectedVersion) {
    m_result.status = DecodeStatus::BadVersion;
    return;
  }
  const auto count = static_cast<std::int32_t>(ZeroFilledUInt32());
  if (count < 0) {
    m_result.status = DecodeStatus::NegativeCount;
    return;
  }
  m_count = count;
}

bool LabelFileReader::Next(std::u16string_view& path, LabelValue& label) {
  // A file that ends at a record boundary before count records ends the
  // load normally: the missing records would read as empty, adding nothing.
  if (m_result.status != DecodeStatus::Complete || m_result.recordsRead == static_cast<std::size_t>(m_count) ||
      Remaining() == 0) {
    return false;
  }
  const std::size_t recordStart = m_offset;
  std::uint32_t lengthField = 0;
  const bool haveLength = UInt32(lengthField);
  const auto length = static_cast<std::int32_t>(lengthField);
  // Odd, negative or overlong lengths, and a record cut short by the end
  // of the file, have no defined path: stop at the damage.
  if (!haveLength || length < 0 || length % 2 != 0 || static_cast<std::size_t>(length) + 4 > Remaining()) {
    m_result.status = DecodeStatus::Partial;
    m_result.damageOffset = recordStart;
    return false;
  }
  m_path.assign(static_cast<std::size_t>(length) / 2, u'\0');
  // Both hosts are little-endian.
  std::memcpy(m_path.data(), m_bytes.data() + m_offset, static_cast<std::size_t>(length));
  m_offset += static_cast<std::size_t>(length);
  path = m_path;
  path = path.substr(0, path.find(u'\0'));
  std::uint32_t value = 0;
  UInt32(value);
  label = value;
  ++m_result.recordsRead;
  return true;
}

DecodeResult DecodeLabelFile(std::span<const std::uint8_t> bytes, std::int32_t expectedVersion,
                             const std::function<void(std::u16string_view, LabelValue)>& add) {
  LabelFileReader reader(bytes, expectedVersion);
  std::u16string_view path;
  LabelValue label = kNoLabel;
  while (reader.Next(path, label)) add(path, label);
  return reader.Result();
}

bool LabelFileEncoder::Begin(std::int32_t version, std::int32_t count) {
  return PutInt32(static_cast<std::uint32_t>(LABELS_MAGIC)) && PutInt32(static_cast<std::uint32_t>(version)) &&
         PutInt32(static_cast<std::uint32_t>(count));
}

bool LabelFileEncoder::Record(std::u16string_view path, LabelValue label) {
  const std::size_t byteLength = path.size() * sizeof(char16_t);
  if (m_chunk.size() - m_used >= byteLength + 8) {
    // The usual case: the whole record fits the chunk, written in place.
    std::uint8_t* at = m_chunk.data() + m_used;
    StoreUInt32(at, static_cast<std::uint32_t>(byteLength));
    std::memcpy(at + 4, path.data(), byteLength);
    StoreUInt32(at + 4 + byteLength, label);
    m_used += byteLength + 8;
    return true;
  }
  return PutInt32(static_cast<std::uint32_t>(byteLength)) &&
         Put(reinterpret_cast<const std::uint8_t*>(path.data()), byteLength) && PutInt32(label);
}

bool LabelFileEncoder::PutInt32(std::uint32_t value) {
  std::uint8_t raw[4];
  StoreUInt32(raw, value);
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
