// JSON values: boolean reading, lookups by key, the member table and the element list, and the
// freeing of value trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "json/JsonParse.h"
#include "json/TJsonArray.h"
#include "json/TJsonMemberTable.h"
#include "json/TJsonValue.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"

namespace json {
namespace {

// BoolAt("success") of a reply read as the existence query reads it.
bool successOf(const std::string& reply) {
  testsupport::BytesStream stream(reply);
  const JsonRef value = ParseFromStream(stream);
  return value && value->BoolAt(u"success");
}

TEST(JsonValue, ToBoolForEveryKind) {
  EXPECT_FALSE(TJsonValue::Create(TJsonKind::Null)->ToBool());
  EXPECT_TRUE(TJsonValue::FromBool(true)->ToBool());
  EXPECT_FALSE(TJsonValue::FromBool(false)->ToBool());
  EXPECT_FALSE(TJsonValue::FromDouble(0.0)->ToBool());
  EXPECT_FALSE(TJsonValue::FromDouble(-0.0)->ToBool());
  EXPECT_TRUE(TJsonValue::FromDouble(0.5)->ToBool());
  EXPECT_TRUE(TJsonValue::FromDouble(std::numeric_limits<double>::quiet_NaN())->ToBool());
  EXPECT_FALSE(TJsonValue::FromCurrency(0)->ToBool());
  EXPECT_TRUE(TJsonValue::FromCurrency(1)->ToBool());
  EXPECT_FALSE(TJsonValue::FromInteger(0)->ToBool());
  EXPECT_TRUE(TJsonValue::FromInteger(-1)->ToBool());
  EXPECT_TRUE(TJsonValue::Create(TJsonKind::Object)->ToBool());
  EXPECT_TRUE(TJsonValue::Create(TJsonKind::Array)->ToBool());
  EXPECT_TRUE(TJsonValue::Create(TJsonKind::Method)->ToBool());
  EXPECT_FALSE(TJsonValue::FromText(u"")->ToBool());
  EXPECT_TRUE(TJsonValue::FromText(u"false")->ToBool());
  EXPECT_TRUE(TJsonValue::FromText(u"0")->ToBool());
  EXPECT_EQ(KindOf(nullptr), TJsonKind::Null);  // none counts as the null kind
}

TEST(JsonValue, BoolAtOnReplies) {
  EXPECT_TRUE(successOf(R"({"success":"false"})"));
  EXPECT_FALSE(successOf(R"({"success":""})"));
  EXPECT_FALSE(successOf(R"({"success":0})"));
  EXPECT_FALSE(successOf(R"({"success":0.0})"));
  EXPECT_FALSE(successOf(R"({"success":null})"));
  EXPECT_TRUE(successOf(R"({"success":1})"));
  EXPECT_TRUE(successOf(R"({"success":0.5})"));
  EXPECT_TRUE(successOf(R"({"success":[]})"));
  EXPECT_TRUE(successOf(R"({"success":{}})"));
  EXPECT_FALSE(successOf(R"({"Success":true})"));  // names are case-sensitive
  EXPECT_TRUE(successOf(R"({"success":false,"success":true})"));
  // Replies that are not objects read false for every name.
  EXPECT_FALSE(successOf("[true] "));
  EXPECT_FALSE(successOf("\"success\" "));
  EXPECT_FALSE(successOf("1 "));
}

TEST(JsonValue, PathLookups) {
  const JsonRef value = ParseFromText(
      uR"({"a":{"b":"ab"},"list":[10,{"b":true},[5,6]],"5":"five","true":"member","x y":1})");
  ASSERT_TRUE(value);
  EXPECT_EQ(value->ValueAt(u"a.b")->Text(), u"ab");
  EXPECT_EQ(value->ValueAt(u"list[0]")->Integer(), 10);
  EXPECT_TRUE(value->BoolAt(u"list[1].b"));
  EXPECT_EQ(value->ValueAt(u"list[2][1]")->Integer(), 6);
  EXPECT_EQ(value->ValueAt(u"list[ 2 ][0]")->Integer(), 5);
  EXPECT_EQ(value->ValueAt(u"5")->Text(), u"five");  // digits name a member of an object

  // Keys that start like a literal yield the literal.
  EXPECT_EQ(KindOf(value->ValueAt(u"true")), TJsonKind::Boolean);
  EXPECT_EQ(value->ValueAt(u"'x'")->Text(), u"x");
  EXPECT_EQ(KindOf(value->ValueAt(u"[1]")), TJsonKind::Array);
  ASSERT_TRUE(value->ValueAt(u"null"));
  EXPECT_EQ(value->ValueAt(u"null")->Kind(), TJsonKind::Null);

  // Everything a lookup cannot follow gives none.
  for (const char16_t* key : {u"missing", u"A.b", u"a.c", u"a.b.c", u"a[0]", u"list.b", u"list[3]",
                              u"list[-1]", u"list[x]", u"list[1.5]", u"list[0", u"a(1)", u"x y", u""}) {
    EXPECT_FALSE(value->ValueAt(key)) << rt::toUtf8(key);
  }

  // Against an array a number selects an element and a name finds nothing.
  const JsonRef list = value->ValueAt(u"list");
  EXPECT_EQ(list->ValueAt(u"0")->Integer(), 10);
  EXPECT_FALSE(list->ValueAt(u"3"));
  EXPECT_FALSE(list->ValueAt(u"b"));
  EXPECT_FALSE(TJsonValue::FromText(u"success")->ValueAt(u"success"));

  // A value outside any counted reference can still be searched.
  TJsonValue local(TJsonKind::Object);
  local.Members()->Put(u"k", TJsonValue::FromBool(true));
  EXPECT_TRUE(local.BoolAt(u"k"));
}

TEST(JsonMemberTable, HashOrderAndReplacement) {
  EXPECT_EQ(memberNameHash(u"ab"), 1475228101u);
  EXPECT_EQ(memberNameHash(u""), 0u);

  // Two names with one hash are told apart by comparing the names.
  ASSERT_EQ(memberNameHash(u"A\u0001"), memberNameHash(u"@\u0082"));
  TJsonMemberTable table;
  table.Put(u"A\u0001", TJsonValue::FromInteger(1));
  table.Put(u"@\u0082", TJsonValue::FromInteger(2));
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(table.Get(u"A\u0001")->Integer(), 1);
  EXPECT_EQ(table.Get(u"@\u0082")->Integer(), 2);
  EXPECT_FALSE(table.Get(u"A"));

  // An equal name replaces the value and releases the previous one.
  std::weak_ptr<IJsonValue> previous = table.Get(u"A\u0001");
  table.Put(u"A\u0001", TJsonValue::FromInteger(3));
  EXPECT_EQ(table.Count(), 2u);
  EXPECT_EQ(table.Get(u"A\u0001")->Integer(), 3);
  EXPECT_TRUE(previous.expired());
}

TEST(JsonMemberTable, StaysBalanced) {
  TJsonMemberTable table;
  constexpr int kMembers = 20000;
  for (int i = 0; i < kMembers; ++i) table.Put(rt::intToText(i), TJsonValue::FromInteger(i));
  for (int i = 0; i < kMembers; i += 2) table.Put(rt::intToText(i), TJsonValue::FromInteger(-i));
  EXPECT_EQ(table.Count(), static_cast<std::size_t>(kMembers));
  EXPECT_LE(table.Height(), static_cast<int>(1.4405 * std::log2(kMembers + 2.0)));
  for (int i = 0; i < kMembers; ++i) {
    const JsonRef found = table.Get(rt::intToText(i));
    ASSERT_TRUE(found) << i;
    ASSERT_EQ(found->Integer(), i % 2 == 0 ? -i : i);
  }
}

TEST(JsonArray, GrowthAndReads) {
  TJsonArray list;
  EXPECT_EQ(list.Capacity(), 32u);
  EXPECT_FALSE(list.Get(0));
  for (int i = 0; i < 33; ++i) EXPECT_EQ(list.Append(TJsonValue::FromInteger(i)), static_cast<std::size_t>(i));
  EXPECT_EQ(list.Capacity(), 64u);
  EXPECT_EQ(list.Get(32)->Integer(), 32);
  EXPECT_FALSE(list.Get(33));

  list.Put(200, TJsonValue::FromInteger(200));  // twice 64 is too small
  EXPECT_EQ(list.Capacity(), 201u);
  EXPECT_EQ(list.Length(), 201u);
  EXPECT_FALSE(list.Get(100));  // slots in between are empty
  EXPECT_EQ(list.Get(200)->Integer(), 200);
}

// Trees are freed without recursion, whatever their depth, and a failed parse frees what it built
// (a value it kept would show as a leak in the sanitizer build).
TEST(JsonValue, TreesAreFreedWhole) {
  JsonRef root = TJsonValue::Create(TJsonKind::Array);
  JsonRef tip = root;
  std::vector<std::weak_ptr<IJsonValue>> watched;  // every 1000th value of the tree
  for (int i = 0; i < 300000; ++i) {  // far deeper than a recursive free survives
    JsonRef next = TJsonValue::Create(i % 2 == 0 ? TJsonKind::Object : TJsonKind::Array);
    if (tip->Elements() != nullptr) tip->Elements()->Append(next);
    else tip->Members()->Put(u"n", next);
    if (i % 1000 == 0) watched.push_back(next);
    tip = next;
  }
  JsonRef kept = tip;  // a value still referenced elsewhere survives its tree
  tip.reset();
  root.reset();
  EXPECT_EQ(std::count_if(watched.begin(), watched.end(), [](const auto& value) { return !value.expired(); }), 0);
  EXPECT_EQ(kept.use_count(), 1);

  EXPECT_FALSE(ParseFromText(u"{\"a\":[1,2,{\"b\":[3]}],\"c\":"));
}

}  // namespace
}  // namespace json
