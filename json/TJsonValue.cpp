// JSON values: creation, boolean reading, lookups by key, and freeing of whole trees.
#include "json/TJsonValue.h"

#include <new>
#include <utility>
#include <vector>

#include "json/JsonParse.h"
#include "json/TJsonArray.h"
#include "json/TJsonMemberTable.h"

namespace json {

std::atomic<std::int64_t> TJsonValue::liveCount_{0};

TJsonValue::TJsonValue(TJsonKind kind) : kind_(kind) {
  if (kind == TJsonKind::Object) members_ = std::make_unique<TJsonMemberTable>();
  if (kind == TJsonKind::Array) elements_ = std::make_unique<TJsonArray>();
  liveCount_.fetch_add(1, std::memory_order_relaxed);
}

// A tree is freed level by level through a work list instead of each container freeing its
// children from inside its own destructor, so no tree depth can exhaust the call stack. A child
// that someone else still references keeps its children.
TJsonValue::~TJsonValue() {
  liveCount_.fetch_sub(1, std::memory_order_relaxed);
  if (!members_ && !elements_) return;
  try {
    std::vector<JsonRef> pending;
    if (members_) members_->DetachAll(pending);
    if (elements_) elements_->DetachAll(pending);
    while (!pending.empty()) {
      JsonRef child = std::move(pending.back());
      pending.pop_back();
      if (child.use_count() != 1) continue;
      if (TJsonMemberTable* table = child->Members()) table->DetachAll(pending);
      if (TJsonArray* list = child->Elements()) list->DetachAll(pending);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory for the work list: what is left is freed by the containers themselves.
  }
}

JsonRef TJsonValue::Create(TJsonKind kind) { return std::make_shared<TJsonValue>(kind); }

JsonRef TJsonValue::FromBool(bool value) {
  auto result = std::make_shared<TJsonValue>(TJsonKind::Boolean);
  result->scalar_.boolean = value;
  return result;
}

JsonRef TJsonValue::FromInteger(std::int64_t value) {
  auto result = std::make_shared<TJsonValue>(TJsonKind::Integer);
  result->scalar_.whole = value;
  return result;
}

JsonRef TJsonValue::FromDouble(double value) {
  auto result = std::make_shared<TJsonValue>(TJsonKind::Double);
  result->scalar_.real = value;
  return result;
}

JsonRef TJsonValue::FromCurrency(std::int64_t tenThousandths) {
  auto result = std::make_shared<TJsonValue>(TJsonKind::Currency);
  result->scalar_.whole = tenThousandths;
  return result;
}

JsonRef TJsonValue::FromText(std::u16string text) {
  auto result = std::make_shared<TJsonValue>(TJsonKind::String);
  result->text_ = std::move(text);
  return result;
}

bool TJsonValue::ToBool() const {
  switch (kind_) {
    case TJsonKind::Null: return false;
    case TJsonKind::Boolean: return scalar_.boolean;
    case TJsonKind::Double: return scalar_.real != 0.0;
    case TJsonKind::Currency:
    case TJsonKind::Integer: return scalar_.whole != 0;
    case TJsonKind::String: return !text_.empty();
    case TJsonKind::Object:
    case TJsonKind::Array:
    case TJsonKind::Method: return true;
  }
  return false;
}

JsonRef TJsonValue::ValueAt(std::u16string_view key) {
  // The key is read against this value. A value that is not held by a counted reference (one
  // made on the stack) takes part through a non-owning reference that lives for this call only.
  JsonRef self = weak_from_this().lock();
  if (!self) self = JsonRef(JsonRef(), this);
  return ParseFromText(key, false, true, self);
}

bool TJsonValue::BoolAt(std::u16string_view key) {
  JsonRef found = ValueAt(key);
  return found && found->ToBool();
}

}  // namespace json
