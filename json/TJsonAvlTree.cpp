// The AVL tree under the member table. Entries sit in one array and link by index; insertion
// recurses along one search path, whose length the balancing keeps logarithmic in the member
// count (never the depth of a document).
#include "json/TJsonAvlTree.h"

#include <algorithm>
#include <limits>
#include <new>
#include <utility>

namespace json {
namespace {

constexpr std::uint32_t kNone = TJsonAvlEntry::kNone;
constexpr std::size_t kFirstEntries = 4;

// Names compare unit by unit; a comparison stops at a U+0000 (the end of a name counts as one).
int compareNames(std::u16string_view a, std::u16string_view b) {
  for (std::size_t i = 0;; ++i) {
    const char16_t ca = i < a.size() ? a[i] : u'\0';
    const char16_t cb = i < b.size() ? b[i] : u'\0';
    if (ca != cb) return ca < cb ? -1 : 1;
    if (ca == u'\0') return 0;
  }
}

int compareKey(std::uint32_t hash, std::u16string_view name, const TJsonAvlEntry& entry) {
  if (hash != entry.hash) return hash < entry.hash ? -1 : 1;
  return compareNames(name, entry.name);
}

}  // namespace

// The left subtree of `slot` grew past the right by two: rotate it back into balance.
void TJsonAvlTree::rebalanceLeft(std::uint32_t& slot) {
  const std::uint32_t top = slot;
  const std::uint32_t left = entries_[top].left;
  if (entries_[left].balance < 0) {  // single right rotation
    entries_[top].left = entries_[left].right;
    entries_[left].right = top;
    entries_[top].balance = 0;
    entries_[left].balance = 0;
    slot = left;
    return;
  }
  // double rotation: the left child's right child becomes the root of this subtree
  const std::uint32_t pivot = entries_[left].right;
  const std::int8_t pivotBalance = entries_[pivot].balance;
  entries_[left].right = entries_[pivot].left;
  entries_[top].left = entries_[pivot].right;
  entries_[pivot].left = left;
  entries_[pivot].right = top;
  entries_[left].balance = pivotBalance > 0 ? -1 : 0;
  entries_[top].balance = pivotBalance < 0 ? 1 : 0;
  entries_[pivot].balance = 0;
  slot = pivot;
}

void TJsonAvlTree::rebalanceRight(std::uint32_t& slot) {
  const std::uint32_t top = slot;
  const std::uint32_t right = entries_[top].right;
  if (entries_[right].balance > 0) {  // single left rotation
    entries_[top].right = entries_[right].left;
    entries_[right].left = top;
    entries_[top].balance = 0;
    entries_[right].balance = 0;
    slot = right;
    return;
  }
  const std::uint32_t pivot = entries_[right].left;
  const std::int8_t pivotBalance = entries_[pivot].balance;
  entries_[right].left = entries_[pivot].right;
  entries_[top].right = entries_[pivot].left;
  entries_[pivot].right = right;
  entries_[pivot].left = top;
  entries_[right].balance = pivotBalance < 0 ? 1 : 0;
  entries_[top].balance = pivotBalance > 0 ? -1 : 0;
  entries_[pivot].balance = 0;
  slot = pivot;
}

// Inserts below `slot`; returns true when the subtree grew in height. The entry array has room
// for one more entry, so `slot` (which may lie inside it) stays valid.
bool TJsonAvlTree::insertAt(std::uint32_t& slot, std::uint32_t hash, std::u16string& name, JsonRef& value) {
  if (slot == kNone) {
    TJsonAvlEntry& entry = entries_.emplace_back();
    entry.name = std::move(name);
    entry.value = std::move(value);
    entry.hash = hash;
    slot = static_cast<std::uint32_t>(entries_.size() - 1);
    return true;
  }
  const int order = compareKey(hash, name, entries_[slot]);
  if (order == 0) {
    JsonRef previous = std::exchange(entries_[slot].value, std::move(value));
    return false;  // `previous` is released here, after the entry holds the new value
  }
  if (order < 0) {
    if (!insertAt(entries_[slot].left, hash, name, value)) return false;
    TJsonAvlEntry& entry = entries_[slot];
    if (entry.balance > 0) {
      entry.balance = 0;
      return false;
    }
    if (entry.balance == 0) {
      entry.balance = -1;
      return true;
    }
    rebalanceLeft(slot);
    return false;
  }
  if (!insertAt(entries_[slot].right, hash, name, value)) return false;
  TJsonAvlEntry& entry = entries_[slot];
  if (entry.balance < 0) {
    entry.balance = 0;
    return false;
  }
  if (entry.balance == 0) {
    entry.balance = 1;
    return true;
  }
  rebalanceRight(slot);
  return false;
}

void TJsonAvlTree::Insert(std::uint32_t hash, std::u16string name, JsonRef value) {
  if (entries_.size() == entries_.capacity()) {
    if (entries_.size() >= kNone - 1) throw std::bad_alloc();  // index links are 32-bit
    entries_.reserve(std::max(kFirstEntries, 2 * entries_.size()));
  }
  insertAt(root_, hash, name, value);
}

const TJsonAvlEntry* TJsonAvlTree::Find(std::uint32_t hash, std::u16string_view name) const {
  std::uint32_t index = root_;
  while (index != kNone) {
    const TJsonAvlEntry& entry = entries_[index];
    const int order = compareKey(hash, name, entry);
    if (order == 0) return &entry;
    index = order < 0 ? entry.left : entry.right;
  }
  return nullptr;
}

int TJsonAvlTree::heightOf(std::uint32_t index) const {
  if (index == kNone) return 0;
  return 1 + std::max(heightOf(entries_[index].left), heightOf(entries_[index].right));
}

int TJsonAvlTree::Height() const { return heightOf(root_); }

void TJsonAvlTree::ReleaseAll(std::vector<JsonRef>& into) {
  for (TJsonAvlEntry& entry : entries_) {
    if (isLastContainerReference(entry.value)) into.push_back(std::move(entry.value));
  }
  entries_.clear();
  entries_.shrink_to_fit();
  root_ = kNone;
}

}  // namespace json
