#include "LabelIndex.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace pelko {
namespace {

constexpr std::uint64_t kMultiplier = 0x9E37'79B9'7F4A'7C15;
constexpr std::size_t kSmallestCapacity = 16;

std::uint64_t Mix(std::uint64_t hash, std::uint64_t units) {
  hash = (hash ^ units) * kMultiplier;
  return hash ^ (hash >> 32);
}

// Linear probing stays short below three quarters full.
bool Fits(std::size_t entries, std::size_t capacity) { return entries <= capacity / 4 * 3; }

}  // namespace

std::uint64_t FoldedPathHash(std::u16string_view path) noexcept {
  const char16_t* units = path.data();
  std::size_t left = path.size();
  std::uint64_t hash = Mix(0, left);
  for (; left >= 4; left -= 4, units += 4) {
    std::uint64_t word;
    std::memcpy(&word, units, sizeof word);
    hash = Mix(hash, FoldAsciiUnits(word));
  }
  if (left > 0) {
    std::uint64_t word = 0;
    std::memcpy(&word, units, left * sizeof(char16_t));
    hash = Mix(hash, FoldAsciiUnits(word));
  }
  // The top bits choose the slot: mix every bit into them (MurmurHash3's finaliser).
  hash ^= hash >> 33;
  hash *= 0xFF51'AFD7'ED55'8CCD;
  hash ^= hash >> 33;
  return hash == 0 ? 1 : hash;
}

void LabelIndex::Reserve(std::size_t entries) {
  if (Fits(entries, m_slots.size())) return;
  std::size_t capacity = std::max(kSmallestCapacity, m_slots.size());
  while (!Fits(entries, capacity)) capacity *= 2;
  Rehash(capacity);
}

void LabelIndex::Clear() noexcept {
  if (m_size == 0) return;
  std::fill(m_slots.begin(), m_slots.end(), Slot{});
  m_size = 0;
}

std::optional<LabelIndex::Entry> LabelIndex::Find(std::u16string_view path, std::uint64_t hash) const noexcept {
  if (m_size == 0) return std::nullopt;
  for (std::size_t at = Home(hash);; at = Next(at)) {
    const Slot& slot = m_slots[at];
    if (slot.hash == 0) return std::nullopt;
    if (slot.hash == hash && PathsEqual(slot.entry->first, path)) return slot.entry;
  }
}

void LabelIndex::Insert(Entry entry, std::uint64_t hash) noexcept {
  std::size_t at = Home(hash);
  while (m_slots[at].hash != 0) at = Next(at);
  m_slots[at] = {hash, entry};
  ++m_size;
}

void LabelIndex::Erase(Entry entry, std::uint64_t hash) noexcept {
  std::size_t hole = Home(hash);
  while (m_slots[hole].hash != hash || m_slots[hole].entry != entry) hole = Next(hole);
  // Backward shift instead of a tombstone: every entry after the hole in
  // its run moves back into it unless that would put it before its home.
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t at = Next(hole); m_slots[at].hash != 0; at = Next(at)) {
    const std::size_t home = Home(m_slots[at].hash);
    if (((at - home) & mask) >= ((at - hole) & mask)) {
      m_slots[hole] = m_slots[at];
      hole = at;
    }
  }
  m_slots[hole] = Slot{};
  --m_size;
}

void LabelIndex::Rehash(std::size_t capacity) {
  std::vector<Slot> old(capacity);
  old.swap(m_slots);
  m_shift = 64 - static_cast<unsigned>(std::countr_zero(capacity));
  for (const Slot& slot : old) {
    if (slot.hash == 0) continue;
    std::size_t at = Home(slot.hash);
    while (m_slots[at].hash != 0) at = Next(at);
    m_slots[at] = slot;
  }
}

}  // namespace pelko
