#pragma once
// Turns completed directory-change buffers of one watched root into change
// records. Every entry counts: each becomes its own record, except that an
// old-name entry followed by its new-name entry becomes one rename record,
// also when the pair is split across two buffers of the root. An old name
// whose partner never comes is a removal; a lone new name is an addition.
// So a rename record never has an empty new path.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ChangeRecord.h"

namespace pelko {

class NotificationDecoder {
 public:
  // directoryPath is the watched root; a backslash is added when missing.
  explicit NotificationDecoder(std::u16string directoryPath);

  // Decodes one buffer as the system filled it (FILE_NOTIFY_INFORMATION
  // entries). A malformed entry ends that buffer; the entries before it count.
  void Decode(std::span<const std::uint8_t> bytes, std::uint64_t timeMs, std::vector<ChangeRecord>& records);

  // The old-name entry that ended the last buffer, waiting for its partner.
  bool HasPendingOldName() const { return m_pendingOldName.has_value(); }
  std::uint64_t PendingSinceMs() const { return m_pendingOldName ? m_pendingOldName->timeMs : 0; }
  // Its partner did not come in time: the old name is handled as a removal.
  void ExpirePendingOldName(std::vector<ChangeRecord>& records);
  // The system lost changes (buffer overflow): they are unknown, so a
  // waiting old name is dropped rather than taken for a removal.
  void Overflowed();

  std::size_t MalformedBuffers() const { return m_malformedBuffers; }
  const std::u16string& DirectoryPath() const { return m_directoryPath; }

 private:
  void Take(std::uint32_t action, std::u16string path, std::uint64_t timeMs, std::vector<ChangeRecord>& records);

  std::u16string m_directoryPath;
  std::optional<ChangeRecord> m_pendingOldName;
  std::size_t m_malformedBuffers = 0;
};

}  // namespace pelko
