#pragma once
// The table's two indexes. LabelMap keeps the paths in folded order, which
// folder operations (a folder is one contiguous range) and saving need.
// LabelIndex finds one path without descending the tree: an open-addressing
// hash table of map iterators over the folded path, so a lookup in a table
// of a million paths costs one hash and about one probe instead of twenty
// levels of folded comparisons and cache misses.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Labels.h"
#include "PathCompare.h"

namespace pelko {

using LabelMap = std::map<std::u16string, LabelValue, PathLess>;

// Four UTF-16 units at once, each folded as FoldAscii does.
constexpr std::uint64_t FoldAsciiUnits(std::uint64_t units) noexcept {
  constexpr std::uint64_t kHigh = 0x8000'8000'8000'8000;
  const std::uint64_t low = units & ~kHigh;
  // The high bit of each lane: the low 15 bits are at least 'A' (0x41), then at least past 'Z' (0x5B).
  const std::uint64_t atLeastA = (low + 0x7FBF'7FBF'7FBF'7FBF) & kHigh;
  const std::uint64_t pastZ = (low + 0x7FA5'7FA5'7FA5'7FA5) & kHigh;
  const std::uint64_t upper = atLeastA & ~pastZ & ~units;
  return units + (upper >> 10);  // 0x20 in each upper-case lane
}

// Equal for paths that PathsEqual calls equal; never 0 (LabelIndex's mark
// of an empty slot).
std::uint64_t FoldedPathHash(std::u16string_view path) noexcept;

class LabelIndex {
 public:
  using Entry = LabelMap::iterator;

  std::size_t Size() const { return m_size; }
  std::size_t Capacity() const { return m_slots.size(); }

  // Room for entries without growing; may throw std::bad_alloc, changing nothing.
  void Reserve(std::size_t entries);
  // Forgets every entry, keeping the room.
  void Clear() noexcept;

  // hash is FoldedPathHash(path).
  std::optional<Entry> Find(std::u16string_view path, std::uint64_t hash) const noexcept;
  // entry's path must not be in the index yet, and Reserve(Size() + 1)
  // must have been called: inserting never allocates.
  void Insert(Entry entry, std::uint64_t hash) noexcept;
  // entry must be in the index under hash.
  void Erase(Entry entry, std::uint64_t hash) noexcept;
  // Starts fetching the home slot of hash, for an Insert a little later.
  void Prefetch(std::uint64_t hash) const noexcept {
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[Home(hash)], /*write=*/1);
  }

 private:
  struct Slot {
    std::uint64_t hash = 0;  // 0: empty
    Entry entry{};
  };
  std::size_t Home(std::uint64_t hash) const { return static_cast<std::size_t>(hash >> m_shift); }
  std::size_t Next(std::size_t slot) const { return (slot + 1) & (m_slots.size() - 1); }
  void Rehash(std::size_t capacity);

  std::vector<Slot> m_slots;  // a power of two in size, at most three quarters used
  unsigned m_shift = 64;      // 64 - log2(capacity): the hash's top bits choose the home slot
  std::size_t m_size = 0;
};

}  // namespace pelko
