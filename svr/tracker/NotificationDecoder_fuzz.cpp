// libFuzzer target for the directory-change buffer decoder. Each input is
// decoded as two buffers of one root, so an old name at the end of the
// first can pair with the start of the second. Each half is copied to a
// heap block of its own size, so AddressSanitizer catches a read past
// either. The first byte picks how the root ends the run.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>
#include <vector>

#include "NotificationDecoder.h"

using namespace pelko;

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void DecodeCopy(NotificationDecoder& decoder, const std::uint8_t* data, std::size_t size, std::uint64_t timeMs,
                std::vector<ChangeRecord>& records) {
  const auto exact = std::make_unique<std::uint8_t[]>(size);
  std::copy(data, data + size, exact.get());
  decoder.Decode(std::span<const std::uint8_t>(exact.get(), size), timeMs, records);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t ending = data[0] % 3;
  ++data;
  --size;

  const std::u16string root = u"C:\\Watched\\";
  NotificationDecoder decoder(u"C:\\Watched");
  std::vector<ChangeRecord> records;
  const std::size_t half = size / 2;
  DecodeCopy(decoder, data, half, 1, records);
  DecodeCopy(decoder, data + half, size - half, 2, records);
  switch (ending) {
    case 0: decoder.ExpirePendingOldName(records); break;
    case 1: decoder.Overflowed(); break;
    default: break;
  }
  if (ending != 2) Check(!decoder.HasPendingOldName());
  Check(decoder.MalformedBuffers() <= 2);

  // Every entry is at least a 12-byte header.
  Check(records.size() <= size / 12 + 1);
  for (const ChangeRecord& record : records) {
    Check(record.action != kItemRenamedNewName);  // a new name is paired or becomes an addition
    const bool rename = record.action == kItemRenamedOldName;
    Check(rename != record.secondPath.empty());
    Check(record.path.starts_with(root));
    Check(record.path.size() - root.size() <= size / 2);
    if (rename) Check(record.secondPath.starts_with(root));
    Check(record.timeMs == 1 || record.timeMs == 2);
  }
  return 0;
}
