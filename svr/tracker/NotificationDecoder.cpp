#include "NotificationDecoder.h"

#include <cstring>

namespace pelko {
namespace {

constexpr std::size_t kEntryHeaderSize = 12;  // next-entry offset, action, name length in bytes

std::uint32_t ReadUInt32(const std::uint8_t* at) {
  std::uint32_t value;
  std::memcpy(&value, at, sizeof value);  // little-endian on every host
  return value;
}

}  // namespace

NotificationDecoder::NotificationDecoder(std::u16string directoryPath) : m_directoryPath(std::move(directoryPath)) {
  if (m_directoryPath.empty() || m_directoryPath.back() != u'\\') m_directoryPath += u'\\';
}

void NotificationDecoder::Decode(std::span<const std::uint8_t> bytes, std::uint64_t timeMs,
                                 std::vector<ChangeRecord>& records) {
  std::size_t offset = 0;
  for (;;) {
    if (offset + kEntryHeaderSize > bytes.size()) {
      ++m_malformedBuffers;
      return;
    }
    const std::uint32_t next = ReadUInt32(bytes.data() + offset);
    const std::uint32_t action = ReadUInt32(bytes.data() + offset + 4);
    const std::uint32_t nameBytes = ReadUInt32(bytes.data() + offset + 8);
    // Entries only go forward; anything else is not a buffer the system made.
    const bool nextValid = next == 0 || (next >= kEntryHeaderSize && next <= bytes.size() - offset);
    if (nameBytes % 2 != 0 || nameBytes > bytes.size() - offset - kEntryHeaderSize || !nextValid) {
      ++m_malformedBuffers;
      return;
    }
    std::u16string path = m_directoryPath;
    const std::size_t prefix = path.size();
    path.resize(prefix + nameBytes / 2);
    if (nameBytes > 0) std::memcpy(path.data() + prefix, bytes.data() + offset + kEntryHeaderSize, nameBytes);
    Take(action, std::move(path), timeMs, records);

    if (next == 0) return;
    offset += next;
  }
}

void NotificationDecoder::Take(std::uint32_t action, std::u16string path, std::uint64_t timeMs,
                               std::vector<ChangeRecord>& records) {
  if (m_pendingOldName) {
    ChangeRecord oldName = std::move(*m_pendingOldName);
    m_pendingOldName.reset();
    if (action == kItemRenamedNewName) {
      oldName.secondPath = std::move(path);
      records.push_back(std::move(oldName));
      return;
    }
    oldName.action = kItemRemoved;  // renamed to somewhere this root does not see
    records.push_back(std::move(oldName));
  }
  switch (action) {
    case kItemRenamedOldName:
      m_pendingOldName = ChangeRecord{kItemRenamedOldName, std::move(path), {}, timeMs};
      return;
    case kItemRenamedNewName:
      // Renamed in from somewhere this root does not see: it appeared here.
      records.push_back({kItemAdded, std::move(path), {}, timeMs});
      return;
    default:
      records.push_back({action, std::move(path), {}, timeMs});
      return;
  }
}

void NotificationDecoder::ExpirePendingOldName(std::vector<ChangeRecord>& records) {
  if (!m_pendingOldName) return;
  m_pendingOldName->action = kItemRemoved;
  records.push_back(std::move(*m_pendingOldName));
  m_pendingOldName.reset();
}

void NotificationDecoder::Overflowed() { m_pendingOldName.reset(); }

}  // namespace pelko
