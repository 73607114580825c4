// Test helpers for the catalogue suites: a scratch database built through the SQLite library
// directly (not through the classes under test), and a second connection that can hold a lock.
#pragma once

#include <sqlite3.h>

#include <gtest/gtest.h>

#include <string>

#include "catalog/ESQLiteException.h"
#include "catalog/TCellValue.h"
#include "runtime/Text.h"
#include "tests/support/TempFolder.h"

namespace catalogtest {

// A raw connection to `path`, closed with the object. Exec() fails the test on any error.
class RawConnection {
 public:
  explicit RawConnection(const std::u16string& path) {
    if (sqlite3_open(rt::toUtf8(path).c_str(), &db_) != SQLITE_OK) ADD_FAILURE() << "cannot open test database";
  }
  ~RawConnection() { sqlite3_close(db_); }
  RawConnection(const RawConnection&) = delete;
  RawConnection& operator=(const RawConnection&) = delete;

  void Exec(const std::string& sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error) != SQLITE_OK) {
      ADD_FAILURE() << "setup statement failed: " << sql << ": " << (error ? error : "");
    }
    sqlite3_free(error);
  }
  // The first column of the first row as UTF-8 text ("<null>" for none).
  std::string Scalar(const std::string& sql) {
    sqlite3_stmt* statement = nullptr;
    std::string out = "<null>";
    if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
        sqlite3_step(statement) == SQLITE_ROW && sqlite3_column_type(statement, 0) != SQLITE_NULL) {
      out = reinterpret_cast<const char*>(sqlite3_column_text(statement, 0));
    }
    sqlite3_finalize(statement);
    return out;
  }
  sqlite3* get() const { return db_; }

 private:
  sqlite3* db_ = nullptr;
};

// Counts the sleeps SQLite asks of its file layer while the counter lives. A connection with a busy
// timeout (or any busy handler that waits) sleeps between its retries while another connection
// holds a lock; one that fails at once never does. So "it did not wait" is a count of zero,
// whatever the machine's speed. The counter is the default file layer while it lives: every call
// but the sleep goes to the layer it replaced, and a sleep returns at once.
class SleepCounter {
 public:
  SleepCounter() : base_(sqlite3_vfs_find(nullptr)), layer_(*base_) {
    sleeps_ = 0;
    layer_.zName = "talvenook-test-sleep-counter";
    layer_.xSleep = [](sqlite3_vfs*, int microseconds) {
      ++sleeps_;
      return microseconds;
    };
    sqlite3_vfs_register(&layer_, 1);
  }
  ~SleepCounter() {
    sqlite3_vfs_unregister(&layer_);
    sqlite3_vfs_register(base_, 1);
  }
  SleepCounter(const SleepCounter&) = delete;
  SleepCounter& operator=(const SleepCounter&) = delete;

  int sleeps() const { return sleeps_; }

 private:
  static inline int sleeps_ = 0;
  sqlite3_vfs* base_;
  sqlite3_vfs layer_;
};

// A temp folder holding "REDU.sqlite", created by the test through Exec().
class CatalogTest : public ::testing::Test {
 protected:
  std::u16string dbPath() const { return folder_.file("REDU.sqlite"); }
  void Exec(const std::string& sql) {
    RawConnection raw(dbPath());
    raw.Exec(sql);
  }
  std::string Scalar(const std::string& sql) {
    RawConnection raw(dbPath());
    return raw.Scalar(sql);
  }

  testsupport::TempFolder folder_;
};

// A key as the result table hands out a text cell (TSQLiteTable::ValueOf).
inline catalog::TCellValue textKey(std::u16string text) {
  return {catalog::StorageClass::Text, 0, 0, std::move(text)};
}

// The message of the ESQLiteException that `action` raises (fails the test when none is raised).
template <typename Action>
std::u16string raisedMessage(Action&& action) {
  try {
    action();
  } catch (const catalog::ESQLiteException& error) {
    return error.Message();
  }
  ADD_FAILURE() << "no ESQLiteException was raised";
  return {};
}

}  // namespace catalogtest
