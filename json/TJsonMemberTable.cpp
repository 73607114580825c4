// The member table of object values.
#include "json/TJsonMemberTable.h"

#include <utility>

namespace json {

std::uint32_t memberNameHash(std::u16string_view name) {
  std::uint32_t hash = 0;
  for (char16_t unit : name) hash = hash * 129u + unit + 0x9E370001u;
  return hash;
}

void TJsonMemberTable::Put(std::u16string name, JsonRef value) {
  const std::uint32_t hash = memberNameHash(name);
  Insert(hash, std::move(name), std::move(value));
}

JsonRef TJsonMemberTable::Get(std::u16string_view name) const {
  const TJsonAvlEntry* entry = Find(memberNameHash(name), name);
  if (entry == nullptr) return {};
  return entry->value;
}

}  // namespace json
