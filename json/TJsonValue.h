// The JSON value: one kind tag and its payload, always held through counted references
// (`JsonRef`). Objects own a member table, arrays an element list.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>

#include "json/IJsonValue.h"
#include "json/TJsonArray.h"
#include "json/TJsonMemberTable.h"

namespace json {

class TJsonValue final : public IJsonValue {
 public:
  // An empty value of `kind`: an object with no members, an array with no elements (capacity
  // 32), the empty string, false, zero.
  explicit TJsonValue(TJsonKind kind);
  ~TJsonValue() override;
  TJsonValue(const TJsonValue&) = delete;
  TJsonValue& operator=(const TJsonValue&) = delete;

  static JsonRef Create(TJsonKind kind);
  static JsonRef FromBool(bool value);
  static JsonRef FromInteger(std::int64_t value);
  static JsonRef FromDouble(double value);
  // `tenThousandths` counts ten-thousandths (1.5 is 15000).
  static JsonRef FromCurrency(std::int64_t tenThousandths);
  static JsonRef FromText(std::u16string text);

  TJsonKind Kind() const override { return kind_; }
  bool ToBool() const override;
  JsonRef ValueAt(std::u16string_view key) override;
  bool BoolAt(std::u16string_view key) override;

  bool Boolean() const override { return kind_ == TJsonKind::Boolean && scalar_.boolean; }
  double Double() const override { return kind_ == TJsonKind::Double ? scalar_.real : 0.0; }
  std::int64_t Currency() const override { return kind_ == TJsonKind::Currency ? scalar_.whole : 0; }
  std::int64_t Integer() const override { return kind_ == TJsonKind::Integer ? scalar_.whole : 0; }
  const std::u16string& Text() const override;
  TJsonMemberTable* Members() override { return std::get_if<TJsonMemberTable>(&payload_); }
  TJsonArray* Elements() override { return std::get_if<TJsonArray>(&payload_); }

 private:
  TJsonKind kind_;
  union {
    bool boolean;
    double real;
    std::int64_t whole;  // currency count or integer
  } scalar_{};
  // Kept inside the value, so that a container costs one allocation.
  std::variant<std::monostate, std::u16string, TJsonMemberTable, TJsonArray> payload_;
};

}  // namespace json
