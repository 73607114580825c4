// The element list of an array value: slots of counted references, growing by doubling from 32.
#pragma once

#include <cstddef>
#include <vector>

#include "json/IJsonValue.h"

namespace json {

class TJsonArray {
 public:
  static constexpr std::size_t kInitialCapacity = 32;

  // Elements in use, and slots allocated (32 at the start).
  std::size_t Length() const { return length_; }
  std::size_t Capacity() const { return capacity_; }

  // Stores `value` at index Length(); returns that index.
  std::size_t Append(JsonRef value);
  // Stores `value` at `index`. An index at or beyond the capacity first grows it to twice the
  // capacity, or to index + 1 when that is still too small; new slots are empty. An index at or
  // beyond the length makes the length index + 1.
  void Put(std::size_t index, JsonRef value);
  // The element at `index`; none at or beyond the length (and for an empty slot).
  JsonRef Get(std::size_t index) const;

  // Empties the list. Children that are the last reference to a container are moved into
  // `into`, for the caller to empty in turn; all other references are released on the spot. This
  // is how trees are freed without recursion.
  void ReleaseAll(std::vector<JsonRef>& into);

 private:
  std::size_t length_ = 0;
  std::size_t capacity_ = kInitialCapacity;
  std::vector<JsonRef> slots_;  // grows with the elements stored, up to capacity_
};

}  // namespace json
