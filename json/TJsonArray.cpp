// The element list of array values.
#include "json/TJsonArray.h"

#include <utility>

namespace json {

std::size_t TJsonArray::Append(JsonRef value) {
  const std::size_t index = length_;
  Put(index, std::move(value));
  return index;
}

void TJsonArray::Put(std::size_t index, JsonRef value) {
  if (index >= capacity_) capacity_ = index >= capacity_ * 2 ? index + 1 : capacity_ * 2;
  if (slots_.size() < capacity_) slots_.resize(capacity_);
  slots_[index] = std::move(value);
  if (index >= length_) length_ = index + 1;
}

JsonRef TJsonArray::Get(std::size_t index) const {
  if (index >= length_) return {};
  return slots_[index];
}

void TJsonArray::DetachAll(std::vector<JsonRef>& into) {
  for (std::size_t i = 0; i < length_; ++i) {
    if (slots_[i]) into.push_back(std::move(slots_[i]));
  }
  slots_.clear();
  length_ = 0;
}

}  // namespace json
