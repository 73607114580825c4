// The member table of an object value: names to counted references, in a balanced tree keyed by
// the name's hash.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "json/TJsonAvlTree.h"

namespace json {

// Hash of a member name: h := h * 129 + unit + 0x9E370001 (mod 2^32) over the UTF-16 units,
// starting from 0. "ab" hashes to 1475228101.
std::uint32_t memberNameHash(std::u16string_view name);

class TJsonMemberTable : public TJsonAvlTree {
 public:
  // Stores `value` under `name`; an existing member of that name takes the new value, so the last
  // of several equal names wins.
  void Put(std::u16string name, JsonRef value);
  // The member's value; none when there is no member of exactly that name (case-sensitive).
  JsonRef Get(std::u16string_view name) const;
};

}  // namespace json
