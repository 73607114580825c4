// The character-level JSON tokenizer: a state machine, one switch over the states, run over
// UTF-16 characters with a fixed stack of 32 levels, fed in chunks. It reads a lenient superset
// of JSON (comments, single quotes, unquoted names and values, trailing commas, \xXX escapes)
// and, given a context value, reads lookup keys ("a.b", "a[0]") against that value instead of a
// document.
//
// It never throws for malformed input and never recurses: nesting deeper than 32 levels fails
// with TJsonStatus::Depth. Only running out of memory raises std::bad_alloc.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "json/IJsonValue.h"

namespace json {

enum class TJsonStatus : std::uint8_t {
  Success,
  Continue,  // the characters ran out before a complete top-level value
  // Failures:
  Depth,
  EndOfText,
  ArraySeparator,
  MemberStart,
  MemberNameEnd,
  MemberSeparator,
  StringOrEscape,
  Comment,
  // Failures of context mode (lookup keys):
  PropertyStep,
  IndexStep,
  CallStep,  // "name(" - calls are not offered
  IndexValue,
};

class TJsonTokenizer {
 public:
  static constexpr int kLevels = 32;

  TJsonTokenizer();
  TJsonTokenizer(const TJsonTokenizer&) = delete;
  TJsonTokenizer& operator=(const TJsonTokenizer&) = delete;

  // Runs the state machine over `count` characters, or up to and including the first U+0000 when
  // `count` is -1. All state stays between runs, so a token may span chunks: a run that ends
  // before the top-level value is complete leaves Status() == Continue, and the next run goes on
  // where it stopped. Returns the top-level value when Status() is Success, else none.
  //   strict   refuse unquoted names and unquoted string values
  //   context  none for a document; the value a lookup key is read against otherwise
  // A top-level value ends at the first character after it that it cannot take (which is not
  // consumed), so text after a complete value is ignored; a bare literal or number at the very
  // end of the characters stays Continue. A consumed U+0000 ends the run.
  JsonRef ParseChunk(const char16_t* chars, std::int64_t count, bool strict, const JsonRef& context);

  TJsonStatus Status() const { return status_; }
  // Characters consumed by the last run (where it stopped).
  std::int64_t Offset() const { return offset_; }
  // Position of the last character taken: line from 1, column from 0 (a tab counts 4).
  std::int64_t Line() const { return line_; }
  std::int64_t Column() const { return column_; }

 private:
  enum class State : std::uint8_t;
  enum class Step : std::uint8_t;
  struct Level;

  void resetLevel(Level& level);
  // Goes one level deeper (the callers have checked the depth limit).
  void enterLevel();
  JsonRef run(const char16_t* chars, std::size_t count, bool terminated, bool strict, const JsonRef& context);
  Step step(char16_t c);
  Step valueStart(Level& level, char16_t c);
  Step nullLiteral(Level& level, char16_t c);
  Step booleanLiteral(Level& level, char16_t c);
  Step bareWord(Level& level, char16_t c);
  Step contextWord(Level& level, char16_t c);
  Step afterName(Level& level, char16_t c);
  Step indexClose(Level& level, char16_t c);
  Step fail(TJsonStatus status);
  // Skips white space (and comments), then goes on in `next`; `step` says whether the current
  // character is consumed first.
  static Step skipWhitespaceThen(Level& level, State next, Step step);
  // A backslash in a string, name or bare word: the next character is an escape, after which the
  // text goes on in the level's present state. Consumes the backslash.
  static Step enterEscape(Level& level);
  void makeNumber(Level& level);
  bool endsBareWord(char16_t c) const;
  void countPosition(char16_t c);

  struct Level {
    State state{};
    State saved{};  // the state to enter once whitespace has been skipped
    JsonRef current;
    JsonRef handedUp;  // the finished value of the level above
    std::u16string pendingName;
    JsonRef parent;  // context mode: what the name being read is looked up in
    JsonRef grandparent;
    std::int64_t index = 0;  // context mode: the index read by an index step
    bool hasIndex = false;
  };

  std::vector<Level> levels_;  // at most kLevels
  int depth_ = 0;
  std::u16string buffer_;  // the token being read; grows geometrically and keeps its capacity
  TJsonStatus status_ = TJsonStatus::Success;
  std::int64_t offset_ = 0;
  std::int64_t line_ = 1;
  std::int64_t column_ = 0;
  char16_t quote_ = u'"';
  std::uint16_t accumulator_ = 0;  // \u and \x escapes
  int position_ = 0;               // within a literal or an escape
  bool real_ = false;              // the number has a "." or an exponent
  int decimals_ = -1;              // digits after the ".", -1 when not fixed-point (exponent, > 4)
  // Settings of the current run.
  bool strict_ = false;
  const JsonRef* context_ = nullptr;
};

}  // namespace json
