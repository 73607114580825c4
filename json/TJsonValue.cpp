// JSON values: creation, boolean reading, lookups by key, and freeing of whole trees.
#include "json/TJsonValue.h"

#include <new>
#include <utility>
#include <vector>

#include "json/JsonParse.h"

namespace json {

TJsonValue::TJsonValue(TJsonKind kind) : kind_(kind) {
  if (kind == TJsonKind::Object) payload_.emplace<TJsonMemberTable>();
  if (kind == TJsonKind::Array) payload_.emplace<TJsonArray>();
  if (kind == TJsonKind::String) payload_.emplace<std::u16string>();
}

// A tree is freed through a work list instead of each container freeing its children from inside
// its own destructor, so no tree depth can exhaust the call stack. Containers are emptied into
// the list (leaves are released on the spot); a child that someone else still references keeps
// its children.
TJsonValue::~TJsonValue() {
  TJsonMemberTable* table = Members();
  TJsonArray* list = Elements();
  if (table == nullptr && list == nullptr) return;
  try {
    std::vector<JsonRef> pending;
    if (table != nullptr) table->ReleaseAll(pending);
    if (list != nullptr) list->ReleaseAll(pending);
    while (!pending.empty()) {
      JsonRef child = std::move(pending.back());
      pending.pop_back();
      if (TJsonMemberTable* childTable = child->Members()) childTable->ReleaseAll(pending);
      if (TJsonArray* childList = child->Elements()) childList->ReleaseAll(pending);
    }
  } catch (const std::bad_alloc&) {
    // Out of memory for the work list: what is left is freed by the containers themselves.
  }
}

const std::u16string& TJsonValue::Text() const {
  static const std::u16string empty;
  const std::u16string* text = std::get_if<std::u16string>(&payload_);
  return text != nullptr ? *text : empty;
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
  result->payload_ = std::move(text);
  return result;
}

bool TJsonValue::ToBool() const {
  switch (kind_) {
    case TJsonKind::Null: return false;
    case TJsonKind::Boolean: return scalar_.boolean;
    case TJsonKind::Double: return scalar_.real != 0.0;
    case TJsonKind::Currency:
    case TJsonKind::Integer: return scalar_.whole != 0;
    case TJsonKind::String: return !Text().empty();
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
  return ParseFromText(key, kLenient, kPartialInput, self);
}

bool TJsonValue::BoolAt(std::u16string_view key) {
  JsonRef found = ValueAt(key);
  return found && found->ToBool();
}

}  // namespace json
