// JSON reader throughput: a 10 MB document of mixed values parsed by ParseFromStream; and member
// lookup in an object of 100,000 members.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "json/JsonParse.h"
#include "json/TJsonMemberTable.h"
#include "json/TJsonValue.h"
#include "runtime/Text.h"
#include "tests/support/BytesStream.h"

namespace {

// About 10 MB of records mixing every kind: integers, fixed-point and exponent numbers, strings
// with escapes, literals, nested arrays and objects. Plain JSON, so both readers take it.
const std::string& mixedDocument() {
  static const std::string document = [] {
    std::string text = "[";
    std::uint32_t seed = 12345;
    const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    for (int i = 0; text.size() < 10'000'000; ++i) {
      if (i > 0) text += ",\n";
      text += "{\"id\":" + std::to_string(i) + ",\"name\":\"item " + std::to_string(next() % 100000) +
              " \\\"quoted\\\" \\u00e9\",\"price\":" + std::to_string(next() % 10000) + "." +
              std::to_string(next() % 100) + ",\"ratio\":" + std::to_string(next() % 1000) + ".123456e-3" +
              ",\"active\":" + (next() % 2 ? "true" : "false") + ",\"note\":null,\"tags\":[\"alpha\",\"beta\"," +
              std::to_string(next() % 50) + "],\"size\":{\"w\":" + std::to_string(next() % 2000) +
              ",\"h\":" + std::to_string(next() % 2000) + "}}";
    }
    text += "]\n";
    return text;
  }();
  return document;
}

void ParseMixedDocument(benchmark::State& state) {
  const std::string& document = mixedDocument();
  testsupport::BytesStream stream(document);
  for (auto _ : state) {
    stream.SetPosition(0);
    json::JsonRef value = json::ParseFromStream(stream);
    if (!value) state.SkipWithError("the document did not parse");
    benchmark::DoNotOptimize(value);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * document.size()));
}
BENCHMARK(ParseMixedDocument)->Unit(benchmark::kMillisecond);

constexpr int kMembers = 100'000;

std::u16string memberName(int i) { return u"member" + rt::intToText(i); }

const json::JsonRef& bigObject() {
  static const json::JsonRef object = [] {
    std::string text = "{";
    for (int i = 0; i < kMembers; ++i) {
      text += (i > 0 ? ",\"member" : "\"member") + std::to_string(i) + "\":" + std::to_string(i);
    }
    text += "}";
    testsupport::BytesStream stream(text);
    return json::ParseFromStream(stream);
  }();
  return object;
}

// A lookup as callers make it: the key read by the tokenizer in context mode.
void LookupByKey(benchmark::State& state) {
  const json::JsonRef& object = bigObject();
  std::vector<std::u16string> names;
  for (int i = 0; i < kMembers; i += 97) names.push_back(memberName(i));
  std::size_t n = 0;
  for (auto _ : state) {
    json::JsonRef found = object->ValueAt(names[n++ % names.size()]);
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(LookupByKey);

// The member table alone: hash, then a balanced-tree search.
void LookupInMemberTable(benchmark::State& state) {
  const json::JsonRef& object = bigObject();
  std::vector<std::u16string> names;
  for (int i = 0; i < kMembers; i += 97) names.push_back(memberName(i));
  std::size_t n = 0;
  for (auto _ : state) {
    json::JsonRef found = object->Members()->Get(names[n++ % names.size()]);
    benchmark::DoNotOptimize(found);
  }
}
BENCHMARK(LookupInMemberTable);

}  // namespace

BENCHMARK_MAIN();
