// A height-balanced (AVL) search tree of named values, the base of an object's member table.
// Entries are ordered by the hash of their name (unsigned) and, for equal hashes, by the names
// compared unit by unit, so a lookup compares whole names only on equal hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "json/IJsonValue.h"

namespace json {

// One member. Entries live in their tree's entry array and link to each other by index, so a
// table costs a handful of allocations however many members it holds.
struct TJsonAvlEntry {
  static constexpr std::uint32_t kNone = 0xFFFFFFFFu;

  std::u16string name;
  JsonRef value;
  std::uint32_t hash = 0;
  std::uint32_t left = kNone;
  std::uint32_t right = kNone;
  std::int8_t balance = 0;  // height of right minus height of left: -1, 0 or +1
};

class TJsonAvlTree {
 public:
  TJsonAvlTree() = default;
  TJsonAvlTree(const TJsonAvlTree&) = delete;
  TJsonAvlTree& operator=(const TJsonAvlTree&) = delete;

  // Entries in the tree.
  std::size_t Count() const { return entries_.size(); }
  // Levels of the tree (0 when empty); at most about 1.44 log2(Count() + 2).
  int Height() const;

  // Empties the tree. Values that are the last reference to a container are moved into `into`,
  // for the caller to empty in turn; all other references are released on the spot. This is how
  // trees of values are freed without recursion.
  void ReleaseAll(std::vector<JsonRef>& into);

 protected:
  // Stores `value` under (hash, name). An entry with the same name takes the new value (the
  // previous reference is released) and the count stays.
  void Insert(std::uint32_t hash, std::u16string name, JsonRef value);
  // The entry with exactly this hash and name, or null.
  const TJsonAvlEntry* Find(std::uint32_t hash, std::u16string_view name) const;

 private:
  bool insertAt(std::uint32_t& slot, std::uint32_t hash, std::u16string& name, JsonRef& value);
  void rebalanceLeft(std::uint32_t& slot);
  void rebalanceRight(std::uint32_t& slot);
  int heightOf(std::uint32_t index) const;

  std::vector<TJsonAvlEntry> entries_;
  std::uint32_t root_ = TJsonAvlEntry::kNone;
};

}  // namespace json
