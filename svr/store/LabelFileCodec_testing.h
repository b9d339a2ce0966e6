#pragma once
// Helpers shared by the codec and table tests: files written field by field,
// so a damaged file reads like its layout, and readable failure output.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "LabelFileCodec.h"
#include "LabelStore.h"

namespace pelko {

class FileBytes {
 public:
  // Takes int64 so both a negative length and a label above 2^31 read naturally.
  FileBytes& Int32(std::int64_t value) {
    const auto v = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) m_bytes.push_back(static_cast<std::uint8_t>(v >> shift));
    return *this;
  }
  FileBytes& Units(std::u16string_view units) {
    for (char16_t unit : units) {
      m_bytes.push_back(static_cast<std::uint8_t>(unit));
      m_bytes.push_back(static_cast<std::uint8_t>(unit >> 8));
    }
    return *this;
  }
  FileBytes& Header(std::int64_t count, std::int64_t version = LABELS_VERSION, std::int64_t magic = LABELS_MAGIC) {
    return Int32(magic).Int32(version).Int32(count);
  }
  FileBytes& Record(std::u16string_view path, LabelValue label) {
    return Int32(static_cast<std::int64_t>(path.size() * 2)).Units(path).Int32(label);
  }
  FileBytes& Raw(std::initializer_list<std::uint8_t> bytes) {
    m_bytes.insert(m_bytes.end(), bytes);
    return *this;
  }
  std::size_t size() const { return m_bytes.size(); }
  operator std::vector<std::uint8_t>() const { return m_bytes; }

 private:
  std::vector<std::uint8_t> m_bytes;
};

inline std::vector<std::uint8_t> EncodeEntries(const std::vector<LabelEntry>& entries,
                                               std::int32_t version = LABELS_VERSION) {
  std::vector<std::uint8_t> out;
  const ByteSink sink = [&](std::span<const std::uint8_t> chunk) {
    out.insert(out.end(), chunk.begin(), chunk.end());
    return true;
  };
  LabelFileEncoder encoder(sink);
  bool ok = encoder.Begin(version, static_cast<std::int32_t>(entries.size()));
  for (const LabelEntry& entry : entries) ok = ok && encoder.Record(entry.path, entry.label);
  ok = ok && encoder.Finish();
  return ok ? out : std::vector<std::uint8_t>{};
}

struct Decoded {
  DecodeResult result;
  std::vector<LabelEntry> records;
};

// Decodes from a heap block of exactly the file's size, so AddressSanitizer
// reports any read past its end.
inline Decoded DecodeEntries(std::span<const std::uint8_t> bytes) {
  const auto exact = std::make_unique<std::uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), exact.get());
  Decoded decoded;
  decoded.result = DecodeLabelFile(std::span<const std::uint8_t>(exact.get(), bytes.size()), LABELS_VERSION,
                                   [&](std::u16string_view path, LabelValue label) {
                                     decoded.records.push_back({std::u16string(path), label});
                                   });
  return decoded;
}

inline std::string Printable(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    if (unit >= 0x20 && unit < 0x7F) {
      out += static_cast<char>(unit);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
      out += escaped;
    }
  }
  return out;
}

inline void PrintTo(const LabelEntry& entry, std::ostream* os) {
  *os << '{' << Printable(entry.path) << ", " << entry.label << '}';
}

inline const char* StatusName(DecodeStatus status) {
  switch (status) {
    case DecodeStatus::Complete: return "Complete";
    case DecodeStatus::Partial: return "Partial";
    case DecodeStatus::BadMagic: return "BadMagic";
    case DecodeStatus::BadVersion: return "BadVersion";
    case DecodeStatus::NegativeCount: return "NegativeCount";
  }
  return "?";
}

inline void PrintTo(DecodeStatus status, std::ostream* os) { *os << StatusName(status); }

}  // namespace pelko
