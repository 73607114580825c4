// The AVL tree under the member table. Recursion here follows the tree's height, which the
// balancing keeps logarithmic in the member count, never the depth of a document.
#include "json/TJsonAvlTree.h"

#include <algorithm>
#include <utility>

namespace json {
namespace {

using Slot = std::unique_ptr<TJsonAvlEntry>;

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

// The left subtree of `slot` grew past the right by two: rotate it back into balance.
void rebalanceLeft(Slot& slot) {
  Slot left = std::move(slot->left);
  if (left->balance < 0) {  // single right rotation
    slot->left = std::move(left->right);
    slot->balance = 0;
    left->balance = 0;
    left->right = std::move(slot);
    slot = std::move(left);
    return;
  }
  // double rotation: the left child's right child becomes the root of this subtree
  Slot pivot = std::move(left->right);
  left->right = std::move(pivot->left);
  slot->left = std::move(pivot->right);
  left->balance = pivot->balance > 0 ? -1 : 0;
  slot->balance = pivot->balance < 0 ? 1 : 0;
  pivot->balance = 0;
  pivot->left = std::move(left);
  pivot->right = std::move(slot);
  slot = std::move(pivot);
}

void rebalanceRight(Slot& slot) {
  Slot right = std::move(slot->right);
  if (right->balance > 0) {  // single left rotation
    slot->right = std::move(right->left);
    slot->balance = 0;
    right->balance = 0;
    right->left = std::move(slot);
    slot = std::move(right);
    return;
  }
  Slot pivot = std::move(right->left);
  right->left = std::move(pivot->right);
  slot->right = std::move(pivot->left);
  right->balance = pivot->balance < 0 ? 1 : 0;
  slot->balance = pivot->balance > 0 ? -1 : 0;
  pivot->balance = 0;
  pivot->right = std::move(right);
  pivot->left = std::move(slot);
  slot = std::move(pivot);
}

// Inserts below `slot`; returns true when the subtree grew in height. `added` reports a new entry.
bool insertAt(Slot& slot, std::uint32_t hash, std::u16string& name, JsonRef& value, bool& added) {
  if (!slot) {
    slot = std::make_unique<TJsonAvlEntry>();
    slot->name = std::move(name);
    slot->hash = hash;
    slot->value = std::move(value);
    added = true;
    return true;
  }
  const int order = compareKey(hash, name, *slot);
  if (order == 0) {
    JsonRef previous = std::exchange(slot->value, std::move(value));
    return false;  // `previous` is released here, after the entry holds the new value
  }
  if (order < 0) {
    if (!insertAt(slot->left, hash, name, value, added)) return false;
    if (slot->balance > 0) {
      slot->balance = 0;
      return false;
    }
    if (slot->balance == 0) {
      slot->balance = -1;
      return true;
    }
    rebalanceLeft(slot);
    return false;
  }
  if (!insertAt(slot->right, hash, name, value, added)) return false;
  if (slot->balance < 0) {
    slot->balance = 0;
    return false;
  }
  if (slot->balance == 0) {
    slot->balance = 1;
    return true;
  }
  rebalanceRight(slot);
  return false;
}

int heightOf(const TJsonAvlEntry* entry) {
  if (entry == nullptr) return 0;
  return 1 + std::max(heightOf(entry->left.get()), heightOf(entry->right.get()));
}

// Frees the subtree bottom-up; recursion follows the tree's height only.
void releaseFrom(Slot& slot, std::vector<JsonRef>& into) {
  if (!slot) return;
  releaseFrom(slot->left, into);
  releaseFrom(slot->right, into);
  if (isLastContainerReference(slot->value)) into.push_back(std::move(slot->value));
  slot.reset();
}

}  // namespace

void TJsonAvlTree::Insert(std::uint32_t hash, std::u16string name, JsonRef value) {
  bool added = false;
  insertAt(root_, hash, name, value, added);
  if (added) ++count_;
}

const TJsonAvlEntry* TJsonAvlTree::Find(std::uint32_t hash, std::u16string_view name) const {
  const TJsonAvlEntry* entry = root_.get();
  while (entry != nullptr) {
    const int order = compareKey(hash, name, *entry);
    if (order == 0) return entry;
    entry = order < 0 ? entry->left.get() : entry->right.get();
  }
  return nullptr;
}

int TJsonAvlTree::Height() const { return heightOf(root_.get()); }

void TJsonAvlTree::ReleaseAll(std::vector<JsonRef>& into) {
  releaseFrom(root_, into);
  count_ = 0;
}

}  // namespace json
