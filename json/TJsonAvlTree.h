// A height-balanced (AVL) search tree of named values, the base of an object's member table.
// Entries are ordered by the hash of their name (unsigned) and, for equal hashes, by the names
// compared unit by unit, so a lookup compares whole names only on equal hashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "json/IJsonValue.h"

namespace json {

struct TJsonAvlEntry {
  std::u16string name;
  std::uint32_t hash = 0;
  JsonRef value;
  std::unique_ptr<TJsonAvlEntry> left;
  std::unique_ptr<TJsonAvlEntry> right;
  std::int8_t balance = 0;  // height of right minus height of left: -1, 0 or +1
};

class TJsonAvlTree {
 public:
  TJsonAvlTree() = default;
  TJsonAvlTree(const TJsonAvlTree&) = delete;
  TJsonAvlTree& operator=(const TJsonAvlTree&) = delete;

  // Entries in the tree.
  std::size_t Count() const { return count_; }
  // Levels of the tree (0 when empty); at most about 1.44 log2(Count() + 2).
  int Height() const;

  // Empties the tree. Children that are the last reference to a container are moved into
  // `into`, for the caller to empty in turn; all other references are released on the spot. This
  // is how trees are freed without recursion.
  void ReleaseAll(std::vector<JsonRef>& into);

 protected:
  // Stores `value` under (hash, name). An entry with the same name takes the new value (the
  // previous reference is released) and the count stays.
  void Insert(std::uint32_t hash, std::u16string name, JsonRef value);
  // The entry with exactly this hash and name, or null.
  const TJsonAvlEntry* Find(std::uint32_t hash, std::u16string_view name) const;

 private:
  std::unique_ptr<TJsonAvlEntry> root_;
  std::size_t count_ = 0;
};

}  // namespace json
