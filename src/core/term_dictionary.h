// The term dictionary: upper-cased terms.
//
// An open-addressing hash set over UTF-16 keys kept in one arena, so that a lookup with a
// string_view never allocates. Besides the terms it keeps every word prefix of a multiword
// term ("NEW" and "NEW YORK" for "NEW YORK CITY"), so that the matcher extends a candidate
// by another word only after a candidate that can still grow into a term.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qp::core {

class TermDictionary {
 public:
  // Probe result bits.
  static constexpr uint8_t kTerm = 1;    // the string is a term
  static constexpr uint8_t kPrefix = 2;  // the string followed by a space starts a term

  TermDictionary();

  // Keys are taken as given (the caller upper-cases). Return whether it changed.
  bool Add(std::u16string_view key);
  // Room for about `keys` more keys of `units` UTF-16 units in all, their prefixes included,
  // so that adding them does not grow the table step by step.
  void Reserve(std::size_t keys, std::size_t units);
  bool Remove(std::u16string_view key);
  bool Contains(std::u16string_view key) const;
  std::size_t Size() const { return terms_; }
  void Clear();

  // Terms that only their owner can tell: a dictionary that cannot list its keys. The table
  // is emptied and, until Clear(), every string may be a term and may grow into one, and
  // `isTerm` decides (the matcher then asks it for every candidate, as an exhaustive search
  // would).
  using Membership = std::function<bool(std::u16string_view)>;
  void AskOwner(Membership isTerm);
  bool AsksOwner() const { return bool(owner_); }

  // For the matcher: kTerm / kPrefix bits of `s` (0 when unknown). A kTerm from a table that
  // asks its owner still needs Confirm().
  uint8_t Probe(std::u16string_view s) const {
    if (owner_) [[unlikely]]
      return kTerm | kPrefix;
    // Most words of a text are no key: a bit per (length, first unit) settles them
    // before any hashing.
    const std::size_t row = s.size() < kFilterRows ? s.size() : kFilterRows - 1;
    const unsigned column = s.empty() ? 0u : unsigned(s[0] & 63);
    if (!((filter_[row] >> column) & 1)) return 0;
    const Slot* slot = Find(s, Hash(s));
    return slot ? slot->Flags() : 0;
  }

  // Whether a string that Probe() called a term is one.
  bool Confirm(std::u16string_view s) const { return !owner_ || owner_(s); }

  // Calls f(prefix) for every word prefix of a multiword term.
  template <class F>
  void ForEachPrefix(F&& f) const {
    for (const Slot& slot : slots_)
      if (slot.tag >= kFirstTag && slot.prefixRefs)
        f(std::u16string_view(arena_.data() + slot.offset, slot.length));
  }

  // Changes whenever a term is added or removed.
  uint64_t Generation() const { return generation_; }
  // Bytes held by the table and the key arena.
  std::size_t MemoryBytes() const;

  static uint64_t Hash(std::u16string_view s);

 private:
  static constexpr uint32_t kEmpty = 0, kTombstone = 1, kFirstTag = 2;
  struct Slot {
    uint32_t tag = kEmpty;  // upper hash bits, >= kFirstTag when used
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t isTerm : 1 = 0;
    uint32_t prefixRefs : 31 = 0;  // multiword terms that start with this prefix
    uint8_t Flags() const { return uint8_t((isTerm ? kTerm : 0) | (prefixRefs ? kPrefix : 0)); }
  };

  static constexpr std::size_t kFilterRows = 64;
  void Remember(std::u16string_view key);

  static uint32_t TagOf(uint64_t h) { return uint32_t(h >> 32) | kFirstTag; }
  const Slot* Find(std::u16string_view s, uint64_t h) const;
  Slot& FindOrInsert(std::u16string_view s, uint64_t h);
  void Release(Slot& slot);
  void Rehash(std::size_t slotCount);

  // Conservative: bits are set for every key ever added and reset only by Clear().
  uint64_t filter_[kFilterRows] = {};
  std::vector<Slot> slots_;
  std::u16string arena_;
  std::size_t used_ = 0;      // live slots
  std::size_t occupied_ = 0;  // live slots and tombstones
  std::size_t terms_ = 0;
  uint64_t generation_;
  Membership owner_;
};

}  // namespace qp::core
