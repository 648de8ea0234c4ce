#include "core/term_dictionary.h"

#include <atomic>
#include <algorithm>
#include <cstring>
#include <iterator>

namespace qp::core {

namespace {
std::atomic<uint64_t> g_nextGeneration{1};

uint64_t Mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  h ^= h >> 33;
  return h;
}
}  // namespace

TermDictionary::TermDictionary() : slots_(16), generation_(g_nextGeneration++) {}

uint64_t TermDictionary::Hash(std::u16string_view s) {
  // Four UTF-16 units per multiply; the tail is zero-padded, the length is mixed in.
  const char16_t* p = s.data();
  std::size_t n = s.size();
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ (uint64_t(n) * 0x2545F4914F6CDD1DULL);
  while (n >= 4) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    h = (h ^ v) * 0x9FB21C651E98DF25ULL;
    h ^= h >> 29;
    p += 4;
    n -= 4;
  }
  if (n) {
    uint64_t v = 0;
    std::memcpy(&v, p, n * sizeof(char16_t));
    h = (h ^ v) * 0x9FB21C651E98DF25ULL;
  }
  return Mix(h);
}

const TermDictionary::Slot* TermDictionary::Find(std::u16string_view s, uint64_t h) const {
  const std::size_t mask = slots_.size() - 1;
  const uint32_t tag = TagOf(h);
  for (std::size_t i = std::size_t(h) & mask;; i = (i + 1) & mask) {
    const Slot& slot = slots_[i];
    if (slot.tag == kEmpty) return nullptr;
    if (slot.tag == tag && slot.length == s.size() &&
        std::memcmp(arena_.data() + slot.offset, s.data(), s.size() * sizeof(char16_t)) == 0)
      return &slot;
  }
}

TermDictionary::Slot& TermDictionary::FindOrInsert(std::u16string_view s, uint64_t h) {
  if ((occupied_ + 1) * 10 > slots_.size() * 7)
    Rehash(used_ * 2 * 10 > slots_.size() * 7 ? slots_.size() * 2 : slots_.size());
  const std::size_t mask = slots_.size() - 1;
  const uint32_t tag = TagOf(h);
  Slot* reuse = nullptr;
  for (std::size_t i = std::size_t(h) & mask;; i = (i + 1) & mask) {
    Slot& slot = slots_[i];
    if (slot.tag == kEmpty) {
      if (!reuse) {
        reuse = &slot;
        ++occupied_;
      }
      break;
    }
    if (slot.tag == kTombstone) {
      if (!reuse) reuse = &slot;
      continue;
    }
    if (slot.tag == tag && slot.length == s.size() &&
        std::memcmp(arena_.data() + slot.offset, s.data(), s.size() * sizeof(char16_t)) == 0)
      return slot;
  }
  Remember(s);
  *reuse = Slot{};
  reuse->tag = tag;
  reuse->offset = uint32_t(arena_.size());
  reuse->length = uint32_t(s.size());
  arena_.append(s);
  ++used_;
  return *reuse;
}

void TermDictionary::Remember(std::u16string_view key) {
  const std::size_t row = key.size() < kFilterRows ? key.size() : kFilterRows - 1;
  filter_[row] |= uint64_t(1) << (key.empty() ? 0u : unsigned(key[0] & 63));
}

void TermDictionary::Release(Slot& slot) {
  if (slot.isTerm || slot.prefixRefs) return;
  slot.tag = kTombstone;
  --used_;
}

void TermDictionary::Rehash(std::size_t slotCount) {
  std::vector<Slot> old(slotCount);
  old.swap(slots_);
  std::u16string oldArena;
  oldArena.swap(arena_);
  arena_.reserve(oldArena.size());
  used_ = occupied_ = 0;
  const std::size_t mask = slots_.size() - 1;
  for (const Slot& o : old) {
    if (o.tag < kFirstTag) continue;
    const std::u16string_view key(oldArena.data() + o.offset, o.length);
    std::size_t i = std::size_t(Hash(key)) & mask;
    while (slots_[i].tag != kEmpty)
      i = (i + 1) & mask;
    slots_[i] = o;
    slots_[i].offset = uint32_t(arena_.size());
    arena_.append(key);
    ++used_;
    ++occupied_;
  }
}

void TermDictionary::Reserve(std::size_t keys, std::size_t units) {
  // A multiword term brings its prefixes: count a slot and a half a key.
  const std::size_t wanted = (used_ + keys + keys / 2) * 10 / 7 + 1;
  std::size_t slots = slots_.size();
  while (slots < wanted)
    slots *= 2;
  if (slots != slots_.size()) Rehash(slots);
  arena_.reserve(arena_.size() + units + units / 2);
}

bool TermDictionary::Add(std::u16string_view key) {
  Slot& slot = FindOrInsert(key, Hash(key));
  if (slot.isTerm) return false;
  slot.isTerm = 1;
  ++terms_;
  for (std::size_t i = 1; i < key.size(); ++i) {
    if (key[i] != u' ') continue;
    const std::u16string_view prefix = key.substr(0, i);
    FindOrInsert(prefix, Hash(prefix)).prefixRefs++;
  }
  generation_ = g_nextGeneration++;
  return true;
}

bool TermDictionary::Remove(std::u16string_view key) {
  Slot* slot = const_cast<Slot*>(Find(key, Hash(key)));
  if (!slot || !slot->isTerm) return false;
  slot->isTerm = 0;
  Release(*slot);
  --terms_;
  for (std::size_t i = 1; i < key.size(); ++i) {
    if (key[i] != u' ') continue;
    const std::u16string_view prefix = key.substr(0, i);
    Slot* p = const_cast<Slot*>(Find(prefix, Hash(prefix)));
    p->prefixRefs--;
    Release(*p);
  }
  generation_ = g_nextGeneration++;
  return true;
}

bool TermDictionary::Contains(std::u16string_view key) const {
  return Probe(key) & kTerm;
}

void TermDictionary::Clear() {
  slots_.assign(16, Slot{});
  std::fill(std::begin(filter_), std::end(filter_), 0);
  arena_.clear();
  used_ = occupied_ = terms_ = 0;
  generation_ = g_nextGeneration++;
  owner_ = nullptr;
}

void TermDictionary::AskOwner(Membership isTerm) {
  Clear();
  owner_ = std::move(isTerm);
}

std::size_t TermDictionary::MemoryBytes() const {
  return slots_.capacity() * sizeof(Slot) + arena_.capacity() * sizeof(char16_t) + sizeof(*this);
}

}  // namespace qp::core
