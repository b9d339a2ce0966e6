// libFuzzer target for the labels.lst decoder. libFuzzer hands over a heap
// block of exactly the input's size, so AddressSanitizer catches any read
// outside it. Every input is also taken round the table: loaded, saved,
// and loaded again, which must give back the same entries, letter case
// included.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "LabelFileCodec.h"
#include "LabelStore.h"

using namespace pelko;

namespace {

// labels.lst in memory; the table's Load and Save go through it unchanged.
class MemoryDatabase : public ILabelDatabase {
 public:
  explicit MemoryDatabase(std::vector<std::uint8_t> file) : m_file(std::move(file)) {}

  ReadOutcome Read(std::vector<std::uint8_t>& contents) override {
    contents = m_file;
    return ReadOutcome::Read;
  }
  bool Replace(const std::function<bool(const ByteSink&)>& produce) override {
    std::vector<std::uint8_t> written;
    if (!produce([&](std::span<const std::uint8_t> chunk) {
          written.insert(written.end(), chunk.begin(), chunk.end());
          return true;
        })) {
      return false;
    }
    m_file = std::move(written);
    return true;
  }
  std::optional<std::u16string> SetAside(bool) override { return u"labels.lst.bad"; }
  std::u16string LastError() const override { return {}; }

  const std::vector<std::uint8_t>& File() const { return m_file; }

 private:
  std::vector<std::uint8_t> m_file;
};

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> input(data, size);

  std::size_t delivered = 0;
  const DecodeResult decoded = DecodeLabelFile(input, LABELS_VERSION, [&](std::u16string_view path, LabelValue) {
    Check(path.size() * 2 <= size);
    ++delivered;
  });
  Check(delivered == decoded.recordsRead);
  Check(decoded.damageOffset <= size);

  MemoryDatabase db({input.begin(), input.end()});
  CLabelStore first(nullptr, &db);
  const LoadStatus status = first.Load().status;
  switch (decoded.status) {
    case DecodeStatus::Complete: Check(status == LoadStatus::Loaded); break;
    case DecodeStatus::Partial: Check(status == LoadStatus::Partial); break;
    default: Check(status == LoadStatus::SetAside && first.Labels().empty()); break;
  }
  Check(first.Save());

  // Save writes no record for an empty path (a zero-length or zero-led
  // record loads as one), so it alone does not come back.
  LabelMap expected = first.Labels();
  expected.erase(std::u16string());

  std::size_t expectedSize = kLabelsHeaderSize;
  for (const auto& entry : expected) expectedSize += 8 + entry.first.size() * 2;
  Check(db.File().size() == expectedSize);

  CLabelStore second(nullptr, &db);
  Check(second.Load().status == LoadStatus::Loaded);
  Check(second.Labels().size() == expected.size());
  auto it = second.Labels().begin();
  for (const auto& [path, label] : expected) {
    // Exact units, not the folded comparison the map itself uses.
    Check(it->first == path && it->second == label);
    ++it;
  }
  return 0;
}
