// The JSON tokenizer's state machine. Each level of the stack is in one state; a state either
// consumes the character or hands the same character on to another state. Containers open a new
// level for each element or member value and the finished value is handed down when the level
// above is done, so nesting costs stack entries, never call frames.
#include "json/TJsonTokenizer.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <utility>

#include "json/TJsonArray.h"
#include "json/TJsonMemberTable.h"
#include "json/TJsonValue.h"

namespace json {

enum class TJsonTokenizer::State : std::uint8_t {
  SkipWhitespace,
  ValueStart,
  Done,
  NullLiteral,
  BooleanLiteral,
  Number,
  QuotedString,
  Escape,
  UnicodeEscape,
  HexEscape,
  BareWord,
  CommentStart,
  BlockComment,
  BlockCommentEnd,
  LineComment,
  ArrayElementStart,
  ArrayAppend,
  ArraySeparator,
  MemberStart,
  QuotedMemberName,
  BareMemberName,
  MemberNameEnd,
  MemberValue,
  MemberStore,
  MemberSeparator,
  PropertyStep,
  IndexStep,
  IndexClose,
};

enum class TJsonTokenizer::Step : std::uint8_t { Consume, Again, Stop };

namespace {

bool isWhitespace(char16_t c) {
  return c == 0x08 || c == u'\t' || c == u'\n' || c == 0x0C || c == u'\r' || c == u' ';
}

bool isNameTerminator(char16_t c) {
  switch (c) {
    case 0x00: case 0x08: case u'\t': case u'\n': case 0x0C: case u'\r': case u' ':
    case u'"': case u'(': case u')': case u',': case u'.': case u':':
    case u'[': case u']': case u'{': case u'}':
      return true;
    default:
      return false;
  }
}

// What may follow a literal inside a longer word. Digits are not among them.
bool isWordCharacter(char16_t c) {
  return c == u'.' || (c >= u'A' && c <= u'Z') || c == u'_' || (c >= u'a' && c <= u'z') || c >= 0x100;
}

bool isDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

int hexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

// The text up to its first U+0000.
std::u16string_view upToNul(const std::u16string& text) {
  return std::u16string_view(text.data(), std::min(text.find(u'\0'), text.size()));
}

// An optional sign and decimal digits; stops without complaint at the first character that does
// not fit or at a digit that would overflow, keeping what it has read ("-" is 0, "1-2" is 1).
// The character at `skip` (if any) is passed over as if it were not there.
std::int64_t toIntegerLenient(std::u16string_view text, std::size_t skip = std::u16string_view::npos) {
  std::size_t i = 0;
  const auto at = [&](std::size_t index) -> char16_t {
    if (index >= skip) ++index;
    return index < text.size() ? text[index] : u'\0';
  };
  bool negative = false;
  if (at(i) == u'+' || at(i) == u'-') negative = at(i++) == u'-';
  const std::uint64_t limit = negative ? std::uint64_t{1} << 63 : (std::uint64_t{1} << 63) - 1;
  std::uint64_t magnitude = 0;
  for (; isDigit(at(i)); ++i) {
    const unsigned digit = at(i) - u'0';
    if (magnitude > (limit - digit) / 10) break;
    magnitude = magnitude * 10 + digit;
  }
  if (!negative) return static_cast<std::int64_t>(magnitude);
  return magnitude == (std::uint64_t{1} << 63) ? std::numeric_limits<std::int64_t>::min()
                                               : -static_cast<std::int64_t>(magnitude);
}

// The longest prefix that reads as a decimal floating-point number; 0 when there is none. Numbers
// too large for a double become infinite, too small ones zero. Never reports an error.
double toDoubleLenient(std::u16string_view text) {
  if (!text.empty() && text[0] == u'+') text.remove_prefix(1);  // from_chars takes no "+"
  // The text holds only digits, signs, "." and "e"; short ones are narrowed on the stack.
  char shortText[64];
  std::string longText;
  char* narrow = shortText;
  if (text.size() > sizeof shortText) {
    longText.resize(text.size());
    narrow = longText.data();
  }
  for (std::size_t i = 0; i < text.size(); ++i) narrow[i] = static_cast<char>(text[i]);
  double value = 0;
  const auto [end, error] = std::from_chars(narrow, narrow + text.size(), value);
  if (error == std::errc::result_out_of_range) {
    const std::string_view taken(narrow, static_cast<std::size_t>(end - narrow));
    const std::size_t exponent = taken.find_first_of("eE");
    const bool tiny = exponent != std::string_view::npos && exponent + 1 < taken.size() && taken[exponent + 1] == '-';
    value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    return !taken.empty() && taken[0] == '-' ? -value : value;
  }
  if (error != std::errc()) return 0.0;
  return value;
}

}  // namespace

// Only the top level is made ready here: every deeper level is reset as it is entered.
// Room for every level is taken at once, so a level stays where it is while deeper ones are added;
// a level is built only when a value first reaches its depth.
TJsonTokenizer::TJsonTokenizer() {
  levels_.reserve(kLevels);
  levels_.emplace_back();
  resetLevel(levels_[0]);
}

void TJsonTokenizer::enterLevel() {
  ++depth_;
  if (levels_.size() <= static_cast<std::size_t>(depth_)) levels_.emplace_back();
  resetLevel(levels_[static_cast<std::size_t>(depth_)]);
}

void TJsonTokenizer::resetLevel(Level& level) {
  level.state = State::SkipWhitespace;
  level.saved = State::ValueStart;
  level.current.reset();
  level.handedUp.reset();
  level.pendingName.clear();
  level.parent.reset();
  level.grandparent.reset();
  level.index = 0;
  level.hasIndex = false;
}

JsonRef TJsonTokenizer::ParseChunk(const char16_t* chars, std::int64_t count, bool strict, const JsonRef& context) {
  constexpr bool kTerminated = true;  // run's third flag: a U+0000 follows the characters
  if (count < 0) {
    const std::size_t length = chars == nullptr ? 0 : std::char_traits<char16_t>::length(chars);
    return run(chars, length, kTerminated, strict, context);
  }
  return run(chars, static_cast<std::size_t>(count), !kTerminated, strict, context);
}

// `terminated`: a U+0000 follows the `count` characters (text mode); otherwise running out of
// characters ends the run with Success or Continue (chunk mode).
JsonRef TJsonTokenizer::run(const char16_t* chars, std::size_t count, bool terminated, bool strict,
                            const JsonRef& context) {
  strict_ = strict;
  context_ = context ? &context : nullptr;
  status_ = TJsonStatus::Success;
  std::size_t offset = 0;
  JsonRef result;
  for (;;) {
    char16_t c = u'\0';
    if (offset < count) {
      // The body of a quoted string or name is taken in one go up to the next quote, backslash or
      // U+0000, which the states then handle one by one.
      const State state = levels_[depth_].state;
      if (state == State::QuotedString || state == State::QuotedMemberName) {
        std::size_t end = offset;
        while (end < count && chars[end] != quote_ && chars[end] != u'\\' && chars[end] != u'\0') {
          countPosition(chars[end]);
          ++end;
        }
        if (end > offset) {
          buffer_.append(chars + offset, end - offset);
          offset = end;
          continue;
        }
      }
      c = chars[offset];
    } else if (!terminated) {
      const Level& level = levels_[0];
      const bool complete = depth_ == 0 && level.state == State::SkipWhitespace && level.saved == State::Done;
      status_ = complete ? TJsonStatus::Success : TJsonStatus::Continue;
      break;
    }
    countPosition(c);
    Step outcome;
    do outcome = step(c);
    while (outcome == Step::Again);
    if (outcome == Step::Stop) break;
    ++offset;
    if (c == u'\0') {
      const Level& level = levels_[depth_];
      if (level.state != State::Done && level.saved != State::Done) status_ = TJsonStatus::EndOfText;
      break;
    }
  }
  offset_ = static_cast<std::int64_t>(offset);
  context_ = nullptr;
  if (status_ == TJsonStatus::Success) result = levels_[depth_].current;
  return result;
}

void TJsonTokenizer::countPosition(char16_t c) {
  if (c == u'\t') {
    column_ += 4;
  } else if (c == u'\n') {
    ++line_;
    column_ = 0;
  } else {
    ++column_;
  }
}

TJsonTokenizer::Step TJsonTokenizer::enterEscape(Level& level) {
  level.saved = level.state;
  level.state = State::Escape;
  return Step::Consume;
}

TJsonTokenizer::Step TJsonTokenizer::skipWhitespaceThen(Level& level, State next, Step step) {
  level.saved = next;
  level.state = State::SkipWhitespace;
  return step;
}

TJsonTokenizer::Step TJsonTokenizer::fail(TJsonStatus status) {
  status_ = status;
  return Step::Stop;
}

TJsonTokenizer::Step TJsonTokenizer::step(char16_t c) {
  Level& level = levels_[depth_];
  switch (level.state) {
    case State::SkipWhitespace:
      if (isWhitespace(c)) return Step::Consume;
      if (c == u'/') {
        level.state = State::CommentStart;
        return Step::Consume;
      }
      level.state = level.saved;
      return Step::Again;

    case State::ValueStart:
      return valueStart(level, c);

    case State::Done: {
      if (depth_ == 0) return Step::Stop;
      Level& below = levels_[depth_ - 1];
      below.handedUp = std::move(level.current);
      resetLevel(level);
      --depth_;
      return Step::Again;  // the level below goes on in its own state
    }

    case State::NullLiteral:
      return nullLiteral(level, c);
    case State::BooleanLiteral:
      return booleanLiteral(level, c);

    case State::Number:
      if (isDigit(c)) {
        buffer_.push_back(c);
        if (real_ && decimals_ >= 0 && ++decimals_ > 4) decimals_ = -1;
        return Step::Consume;
      }
      if (c == u'.') {
        buffer_.push_back(c);
        real_ = true;
        decimals_ = 0;
        return Step::Consume;
      }
      if (c == u'E' || c == u'e') {
        buffer_.push_back(c);
        real_ = true;
        decimals_ = -1;
        return Step::Consume;
      }
      if (c == u'+' || c == u'-') {
        buffer_.push_back(c);
        return Step::Consume;
      }
      makeNumber(level);
      return skipWhitespaceThen(level, State::Done, Step::Again);

    case State::QuotedString:
      if (c == quote_) {
        level.current = TJsonValue::FromText(buffer_);
        return skipWhitespaceThen(level, State::Done, Step::Consume);
      }
      if (c == u'\\') return enterEscape(level);
      buffer_.push_back(c);
      return Step::Consume;

    case State::Escape:
      switch (c) {
        case u'b': buffer_.push_back(0x08); break;
        case u't': buffer_.push_back(u'\t'); break;
        case u'n': buffer_.push_back(u'\n'); break;
        case u'f': buffer_.push_back(0x0C); break;
        case u'r': buffer_.push_back(u'\r'); break;
        case u'u':
        case u'x':
          accumulator_ = 0;
          position_ = 0;
          level.state = c == u'u' ? State::UnicodeEscape : State::HexEscape;
          return Step::Consume;
        default: buffer_.push_back(c); break;  // \" \\ \/ \' and any other character as itself
      }
      level.state = level.saved;
      return Step::Consume;

    case State::UnicodeEscape:
    case State::HexEscape: {
      const int digit = hexValue(c);
      if (digit < 0) return fail(TJsonStatus::StringOrEscape);
      const int digits = level.state == State::UnicodeEscape ? 4 : 2;
      accumulator_ = static_cast<std::uint16_t>(accumulator_ | digit << (4 * (digits - 1 - position_)));
      if (++position_ == digits) {
        buffer_.push_back(static_cast<char16_t>(accumulator_));
        level.state = level.saved;
      }
      return Step::Consume;
    }

    case State::BareWord:
      return context_ != nullptr ? contextWord(level, c) : bareWord(level, c);

    case State::CommentStart:
      if (c == u'*') {
        level.state = State::BlockComment;
        return Step::Consume;
      }
      if (c == u'/') {
        level.state = State::LineComment;
        return Step::Consume;
      }
      return fail(TJsonStatus::Comment);
    case State::BlockComment:
      if (c == u'*') level.state = State::BlockCommentEnd;
      return Step::Consume;
    case State::BlockCommentEnd:
      // Any character but "/" reopens the comment, a second "*" included: "**/" does not close.
      level.state = c == u'/' ? State::SkipWhitespace : State::BlockComment;
      return Step::Consume;
    case State::LineComment:
      if (c == u'\n') level.state = State::SkipWhitespace;
      return Step::Consume;

    case State::ArrayElementStart:
      if (c == u']') {  // an empty array, or a trailing comma
        return skipWhitespaceThen(level, State::Done, Step::Consume);
      }
      if (depth_ >= kLevels - 1) return fail(TJsonStatus::Depth);
      level.state = State::ArrayAppend;
      enterLevel();
      return Step::Again;
    case State::ArrayAppend:
      level.current->Elements()->Append(std::move(level.handedUp));
      return skipWhitespaceThen(level, State::ArraySeparator, Step::Again);
    case State::ArraySeparator:
      if (c == u']') {
        return skipWhitespaceThen(level, State::Done, Step::Consume);
      }
      if (c == u',') {
        return skipWhitespaceThen(level, State::ArrayElementStart, Step::Consume);
      }
      return fail(TJsonStatus::ArraySeparator);

    case State::MemberStart:
      if (c == u'}') {  // an empty object, or a trailing comma
        return skipWhitespaceThen(level, State::Done, Step::Consume);
      }
      if (c == u'"' || c == u'\'') {
        quote_ = c;
        buffer_.clear();
        level.state = State::QuotedMemberName;
        return Step::Consume;
      }
      if (c < 0x100 && (strict_ || isNameTerminator(c))) return fail(TJsonStatus::MemberStart);
      buffer_.clear();
      level.state = State::BareMemberName;
      return Step::Again;
    case State::QuotedMemberName:
      if (c == quote_) {
        level.pendingName.assign(upToNul(buffer_));
        return skipWhitespaceThen(level, State::MemberNameEnd, Step::Consume);
      }
      if (c == u'\\') return enterEscape(level);
      buffer_.push_back(c);
      return Step::Consume;
    case State::BareMemberName:
      if (c == u'\0' || c == u':') {  // untrimmed: a bare name may hold and end in spaces
        level.pendingName.assign(upToNul(buffer_));
        return skipWhitespaceThen(level, State::MemberNameEnd, Step::Again);
      }
      if (c == u'\\') return enterEscape(level);
      buffer_.push_back(c);
      return Step::Consume;
    case State::MemberNameEnd:
      if (c != u':') return fail(TJsonStatus::MemberNameEnd);
      return skipWhitespaceThen(level, State::MemberValue, Step::Consume);
    case State::MemberValue:
      if (depth_ >= kLevels - 1) return fail(TJsonStatus::Depth);
      level.state = State::MemberStore;
      enterLevel();
      return Step::Again;
    case State::MemberStore:
      level.current->Members()->Put(std::move(level.pendingName), std::move(level.handedUp));
      level.pendingName.clear();
      return skipWhitespaceThen(level, State::MemberSeparator, Step::Again);
    case State::MemberSeparator:
      if (c == u'}') {
        return skipWhitespaceThen(level, State::Done, Step::Consume);
      }
      if (c == u',') {
        return skipWhitespaceThen(level, State::MemberStart, Step::Consume);
      }
      return fail(TJsonStatus::MemberSeparator);

    case State::PropertyStep:
      if (KindOf(level.current) != TJsonKind::Object) return fail(TJsonStatus::PropertyStep);
      buffer_.clear();
      level.state = State::BareWord;
      return Step::Again;
    case State::IndexStep:
      if (KindOf(level.current) != TJsonKind::Array) return fail(TJsonStatus::IndexStep);
      if (depth_ >= kLevels - 1) return fail(TJsonStatus::Depth);
      level.state = State::IndexClose;
      enterLevel();
      return Step::Again;
    case State::IndexClose:
      return indexClose(level, c);
  }
  return fail(TJsonStatus::EndOfText);  // not reached: every state is handled above
}

TJsonTokenizer::Step TJsonTokenizer::valueStart(Level& level, char16_t c) {
  if (c == u'"' || c == u'\'') {
    buffer_.clear();
    quote_ = c;
    level.state = State::QuotedString;
    return Step::Consume;
  }
  if (c == u'(') return Step::Consume;  // a "(" before a value is skipped
  if (c == u'-' || isDigit(c)) {
    buffer_.clear();
    if (isDigit(c) && context_ != nullptr && depth_ == 0 && KindOf(*context_) == TJsonKind::Object) {
      level.current = *context_;  // a key made of digits names a member of the object
      level.state = State::BareWord;
      return Step::Again;
    }
    real_ = false;
    decimals_ = -1;
    level.state = State::Number;
    return Step::Again;
  }
  if (c == u't' || c == u'T' || c == u'f' || c == u'F') {
    buffer_.clear();
    position_ = 0;
    level.state = State::BooleanLiteral;
    return Step::Again;
  }
  if (c == u'n' || c == u'N') {
    buffer_.clear();
    position_ = 0;
    level.state = State::NullLiteral;
    return Step::Again;
  }
  if (c == u'[') {
    level.current = TJsonValue::Create(TJsonKind::Array);
    return skipWhitespaceThen(level, State::ArrayElementStart, Step::Consume);
  }
  if (c == u'{') {
    level.current = TJsonValue::Create(TJsonKind::Object);
    return skipWhitespaceThen(level, State::MemberStart, Step::Consume);
  }
  buffer_.clear();
  level.state = State::BareWord;
  return Step::Again;
}

// Literals are lower case only, and a literal followed by a word character is the start of a bare
// word ("nullable", "true_"); a digit may follow ("true1" is true, then text after the value).
TJsonTokenizer::Step TJsonTokenizer::nullLiteral(Level& level, char16_t c) {
  static constexpr std::u16string_view kNull = u"null";
  buffer_.push_back(c);
  const std::size_t compared = std::min<std::size_t>(position_ + 1, kNull.size());
  if (std::u16string_view(buffer_).substr(0, compared) != kNull.substr(0, compared)) {
    buffer_.pop_back();
    level.state = State::BareWord;
    return Step::Again;
  }
  if (position_ < static_cast<int>(kNull.size())) {
    ++position_;
    return Step::Consume;
  }
  if (isWordCharacter(c)) {
    ++position_;
    level.state = State::BareWord;
    return Step::Consume;
  }
  level.current = TJsonValue::Create(TJsonKind::Null);
  return skipWhitespaceThen(level, State::Done, Step::Again);
}

TJsonTokenizer::Step TJsonTokenizer::booleanLiteral(Level& level, char16_t c) {
  static constexpr std::u16string_view kTrue = u"true";
  static constexpr std::u16string_view kFalse = u"false";
  buffer_.push_back(c);
  const std::u16string_view read(buffer_);
  for (const std::u16string_view literal : {kTrue, kFalse}) {
    const std::size_t compared = std::min<std::size_t>(position_ + 1, literal.size());
    if (read.substr(0, compared) != literal.substr(0, compared)) continue;
    if (position_ < static_cast<int>(literal.size())) {
      ++position_;
      return Step::Consume;
    }
    if (isWordCharacter(c)) {
      ++position_;
      level.state = State::BareWord;
      return Step::Consume;
    }
    level.current = TJsonValue::FromBool(literal == kTrue);
    return skipWhitespaceThen(level, State::Done, Step::Again);
  }
  buffer_.pop_back();
  level.state = State::BareWord;
  return Step::Again;
}

// Where a bare word ends (document mode): only U+0000 at the top level, so a top-level bare word
// runs to the end of the text; inside an array also "," and "]", inside an object "," and "}".
bool TJsonTokenizer::endsBareWord(char16_t c) const {
  if (c == u'\0') return true;
  if (depth_ == 0) return false;
  const State below = levels_[depth_ - 1].state;
  if (below == State::ArrayAppend) return c == u',' || c == u']';
  if (below == State::MemberStore) return c == u',' || c == u'}';
  return false;
}

TJsonTokenizer::Step TJsonTokenizer::bareWord(Level& level, char16_t c) {
  if (c >= 0x100) {
    buffer_.push_back(c);
    return Step::Consume;
  }
  if (endsBareWord(c)) {
    if (strict_) return fail(TJsonStatus::StringOrEscape);
    // Spaces inside the word stay; trailing LF, CR and spaces go (tabs stay).
    std::u16string_view word = upToNul(buffer_);
    while (!word.empty() && (word.back() == u'\n' || word.back() == u'\r' || word.back() == u' ')) word.remove_suffix(1);
    level.current = TJsonValue::FromText(std::u16string(word));
    return skipWhitespaceThen(level, State::Done, Step::Again);
  }
  if (c == u'\\') return enterEscape(level);
  buffer_.push_back(c);
  return Step::Consume;
}

// Context mode: the word is a name looked up in the level's current value (or the context).
TJsonTokenizer::Step TJsonTokenizer::contextWord(Level& level, char16_t c) {
  if (!isNameTerminator(c)) {
    buffer_.push_back(c);
    return Step::Consume;
  }
  level.grandparent = std::move(level.parent);
  level.parent = level.current ? level.current : *context_;
  const TJsonKind kind = KindOf(level.parent);
  if (kind == TJsonKind::Object) {
    if (c == u'(') return fail(TJsonStatus::CallStep);
    level.current = level.parent->Members()->Get(buffer_);
    return afterName(level, c);
  }
  if (kind == TJsonKind::Array && level.hasIndex) {
    if (c == u'(') return fail(TJsonStatus::CallStep);
    level.current = level.parent->Elements()->Get(static_cast<std::size_t>(level.index));
    level.hasIndex = false;
    return afterName(level, c);
  }
  // Nothing to look the name up in: the text runs on to its end and fails there.
  return Step::Consume;
}

TJsonTokenizer::Step TJsonTokenizer::afterName(Level& level, char16_t c) {
  if (c == u'.') {
    level.state = State::PropertyStep;
    return Step::Consume;
  }
  if (c == u'[') {
    level.state = State::IndexStep;
    return Step::Consume;
  }
  level.state = State::Done;
  return Step::Again;
}

TJsonTokenizer::Step TJsonTokenizer::indexClose(Level& level, char16_t c) {
  if (c != u']') return fail(TJsonStatus::IndexStep);
  const JsonRef index = std::move(level.handedUp);
  if (KindOf(index) != TJsonKind::Integer || index->Integer() < 0) return fail(TJsonStatus::IndexValue);
  level.index = index->Integer();
  level.hasIndex = true;
  buffer_.clear();
  level.state = State::BareWord;
  return Step::Consume;
}

// Integer without "." or exponent; currency (ten-thousandths) with a "." and at most four digits
// after it; double otherwise. A currency too large for its 64-bit count becomes a double rather
// than wrapping around.
void TJsonTokenizer::makeNumber(Level& level) {
  if (!real_) {
    const std::int64_t value = toIntegerLenient(buffer_);
    if (context_ != nullptr && KindOf(*context_) == TJsonKind::Array && value >= 0) {
      level.current = (*context_)->Elements()->Get(static_cast<std::size_t>(value));
      return;
    }
    level.current = TJsonValue::FromInteger(value);
    return;
  }
  if (decimals_ >= 0) {
    const std::int64_t count = toIntegerLenient(buffer_, buffer_.find(u'.'));
    std::int64_t scale = 1;
    for (int i = decimals_; i < 4; ++i) scale *= 10;
    std::int64_t scaled = 0;
    if (!__builtin_mul_overflow(count, scale, &scaled)) {
      level.current = TJsonValue::FromCurrency(scaled);
      return;
    }
  }
  level.current = TJsonValue::FromDouble(toDoubleLenient(buffer_));
}

}  // namespace json
