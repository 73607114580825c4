// Loading a large catalogue result: 100,000 rows of 5 text columns. Reports the time of a load
// (open, query, load, close) and of a walk reading every cell as text, and the memory the table
// holds and the peak reached while loading, both against the raw size of the text.
//
// Memory is counted by replacing the global allocation functions: every byte the program
// allocates through operator new (the table, its cells, its names) is counted, SQLite's own
// page cache (plain malloc) is not. Counters:
//   raw_text_bytes  sum of the UTF-8 lengths of all cells
//   table_bytes     bytes still held once the table is loaded and the connection closed
//   peak_bytes      the highest count reached during the load, above what was held before it
//   table_ratio / peak_ratio   the two divided by raw_text_bytes
#include <malloc.h>
#include <sqlite3.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>

#include "catalog/TSQLiteDatabase.h"
#include "catalog/TSQLiteTable.h"
#include "runtime/Text.h"

namespace {

std::atomic<std::int64_t> liveBytes{0};
std::atomic<std::int64_t> peakBytes{0};

void* countedAllocation(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  const std::int64_t now = liveBytes += static_cast<std::int64_t>(malloc_usable_size(block));
  std::int64_t peak = peakBytes.load();
  while (now > peak && !peakBytes.compare_exchange_weak(peak, now)) {
  }
  return block;
}

void countedRelease(void* block) {
  if (block == nullptr) return;
  liveBytes -= static_cast<std::int64_t>(malloc_usable_size(block));
  std::free(block);
}

constexpr int kRows = 100000;
constexpr int kColumns = 5;

// A deterministic catalogue-like text of `length` bytes.
std::string makeText(std::uint32_t& seed, int minimum, int maximum) {
  seed = seed * 1664525u + 1013904223u;
  const int length = minimum + static_cast<int>((seed >> 8) % static_cast<std::uint32_t>(maximum - minimum + 1));
  std::string text;
  text.reserve(length);
  for (int i = 0; i < length; ++i) {
    seed = seed * 1664525u + 1013904223u;
    text += static_cast<char>('a' + (seed >> 24) % 26);
  }
  return text;
}

// The benchmark database, made once: names, paths, versions, publishers and notes.
struct Catalogue {
  std::filesystem::path path;
  std::int64_t rawTextBytes = 0;

  Catalogue() {
    path = std::filesystem::temp_directory_path() / ("talvenook-catalog-bench-" + std::to_string(getpid()) + ".sqlite");
    std::filesystem::remove(path);
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(db, "CREATE TABLE software_data(softname TEXT, exepath TEXT, version TEXT, publisher TEXT, note TEXT);"
                     "BEGIN;", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(db, "INSERT INTO software_data VALUES(?, ?, ?, ?, ?)", -1, &insert, nullptr);
    std::uint32_t seed = 12345;
    const int lengths[kColumns][2] = {{8, 24}, {30, 90}, {7, 12}, {5, 20}, {0, 40}};
    for (int row = 0; row < kRows; ++row) {
      for (int column = 0; column < kColumns; ++column) {
        const std::string text = makeText(seed, lengths[column][0], lengths[column][1]);
        rawTextBytes += static_cast<std::int64_t>(text.size());
        sqlite3_bind_text(insert, column + 1, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
      }
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(db, "COMMIT;", nullptr, nullptr, nullptr);
    sqlite3_close(db);
  }
  ~Catalogue() { std::filesystem::remove(path); }
};

const Catalogue& catalogue() {
  static const Catalogue made;
  return made;
}

std::unique_ptr<catalog::TSQLiteTable> loadAll(const Catalogue& source) {
  catalog::TSQLiteDatabase database(rt::fromUtf8(source.path.string()));
  return database.QueryTable(" SELECT * FROM software_data");
}

void BM_LoadCatalogue(benchmark::State& state) {
  const Catalogue& source = catalogue();
  std::int64_t tableBytes = 0;
  std::int64_t loadPeak = 0;
  for (auto _ : state) {
    const std::int64_t before = liveBytes.load();
    peakBytes = before;
    auto table = loadAll(source);
    tableBytes = liveBytes.load() - before;
    loadPeak = peakBytes.load() - before;
    benchmark::DoNotOptimize(table->RowTotal());
    state.PauseTiming();
    table.reset();  // freeing is not part of the load
    state.ResumeTiming();
  }
  const auto raw = static_cast<double>(source.rawTextBytes);
  state.counters["raw_text_bytes"] = raw;
  state.counters["table_bytes"] = static_cast<double>(tableBytes);
  state.counters["peak_bytes"] = static_cast<double>(loadPeak);
  state.counters["table_ratio"] = static_cast<double>(tableBytes) / raw;
  state.counters["peak_ratio"] = static_cast<double>(loadPeak) / raw;
  state.counters["rows_per_s"] = benchmark::Counter(kRows, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_LoadCatalogue)->Unit(benchmark::kMillisecond);

// Every cell of every row read by column name, as the upload pass reads its three columns.
void BM_WalkCatalogueAsText(benchmark::State& state) {
  auto table = loadAll(catalogue());
  const std::u16string names[kColumns] = {u"softname", u"exepath", u"version", u"publisher", u"note"};
  for (auto _ : state) {
    std::size_t characters = 0;
    table->ToFirstRow();
    for (int row = 0; row < table->RowTotal(); ++row) {
      for (const auto& name : names) characters += table->TextOf(name).size();
      table->ToNextRow();
    }
    benchmark::DoNotOptimize(characters);
  }
  state.counters["cells_per_s"] =
      benchmark::Counter(static_cast<double>(kRows) * kColumns, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_WalkCatalogueAsText)->Unit(benchmark::kMillisecond);

}  // namespace

void* operator new(std::size_t size) { return countedAllocation(size); }
void* operator new[](std::size_t size) { return countedAllocation(size); }
void operator delete(void* block) noexcept { countedRelease(block); }
void operator delete[](void* block) noexcept { countedRelease(block); }
void operator delete(void* block, std::size_t) noexcept { countedRelease(block); }
void operator delete[](void* block, std::size_t) noexcept { countedRelease(block); }

BENCHMARK_MAIN();
