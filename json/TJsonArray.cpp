// The element list of array values.
#include "json/TJsonArray.h"

#include <algorithm>
#include <utility>

namespace json {

std::size_t TJsonArray::Append(JsonRef value) {
  const std::size_t index = length_;
  Put(index, std::move(value));
  return index;
}

void TJsonArray::Put(std::size_t index, JsonRef value) {
  if (index >= capacity_) capacity_ = index >= capacity_ * 2 ? index + 1 : capacity_ * 2;
  // Storage follows the elements in use (amortised by the vector's own growth); the capacity
  // above is the list's growth rule, and no more memory than it allows is ever taken.
  if (index >= slots_.size()) {
    if (index >= slots_.capacity()) slots_.reserve(std::min(capacity_, std::max(index + 1, 2 * slots_.capacity())));
    slots_.resize(index + 1);
  }
  slots_[index] = std::move(value);
  if (index >= length_) length_ = index + 1;
}

JsonRef TJsonArray::Get(std::size_t index) const {
  if (index >= length_) return {};
  return slots_[index];
}

void TJsonArray::ReleaseAll(std::vector<JsonRef>& into) {
  for (std::size_t i = 0; i < length_; ++i) {
    if (isLastContainerReference(slots_[i])) into.push_back(std::move(slots_[i]));
  }
  slots_.clear();
  length_ = 0;
}

}  // namespace json
