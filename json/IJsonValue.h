// The JSON value interface. Every value is held through a counted reference (`JsonRef`); an empty
// reference means "none" (no value at all), which is distinct from a value of the null kind.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace json {

// What a value holds. The reader never makes Method; it exists for the family's call values.
enum class TJsonKind : std::uint8_t { Null, Boolean, Double, Currency, Integer, Object, Array, String, Method };

class IJsonValue;
class TJsonMemberTable;
class TJsonArray;

// A counted reference to a value. Empty = none.
using JsonRef = std::shared_ptr<IJsonValue>;

class IJsonValue : public std::enable_shared_from_this<IJsonValue> {
 public:
  virtual ~IJsonValue() = default;

  virtual TJsonKind Kind() const = 0;

  // The value read as a boolean: null false; boolean itself; double, currency and integer true
  // unless zero; object, array and method always true; string true unless the text is empty (so
  // "false" and "0" are true).
  virtual bool ToBool() const = 0;

  // The value the key names, read against this value (see ParseFromText's context mode):
  //   "name"   a member of this object (exact, case-sensitive), none when absent;
  //   "a.b"    member b of member a;  "a[0]"  element 0 of array member a;
  //   "3"      the member named 3 of an object, element 3 of an array.
  // A key that starts like a literal (a quote, "[", "{", or null/true/false on its own) yields
  // that literal instead. A key that does not parse, a missing member, an index past the end and
  // a lookup on a value of another kind all give none. Never throws for malformed keys.
  virtual JsonRef ValueAt(std::u16string_view key) = 0;

  // ValueAt(key) read with ToBool; none reads false. This is how the existence reply is read:
  //   JsonRef reply = ParseFromStream(responseBuffer);
  //   bool wanted = reply && reply->BoolAt(u"success") && !reply->BoolAt(u"exist");
  virtual bool BoolAt(std::u16string_view key) = 0;

  // Payload readers: the stored payload when the kind matches, else false / 0 / empty text.
  virtual bool Boolean() const = 0;
  virtual double Double() const = 0;
  // Currency counts ten-thousandths: 1.5 is 15000.
  virtual std::int64_t Currency() const = 0;
  virtual std::int64_t Integer() const = 0;
  // A string's text; it may contain U+0000.
  virtual const std::u16string& Text() const = 0;
  // The member table of an object, the element list of an array; null for other kinds.
  virtual TJsonMemberTable* Members() = 0;
  virtual TJsonArray* Elements() = 0;
};

// Used when freeing trees: true when `value` is the last reference to an object or array, whose
// children the caller must then release without recursion.
inline bool isLastContainerReference(const JsonRef& value) {
  if (!value || value.use_count() != 1) return false;
  const TJsonKind kind = value->Kind();
  return kind == TJsonKind::Object || kind == TJsonKind::Array;
}

// The kind of a possibly absent value: none counts as the null kind.
inline TJsonKind KindOf(const JsonRef& value) { return value ? value->Kind() : TJsonKind::Null; }

}  // namespace json
