// The two entries of the JSON reader: a document read from a byte stream, and a text (also how
// lookup keys are read against a value). Both give the value, or none when the text does not
// parse; nothing is thrown for malformed input (only running out of memory raises std::bad_alloc,
// and a failing stream raises what the stream raises).
#pragma once

#include <string_view>

#include "json/IJsonValue.h"
#include "runtime/TStream.h"

namespace json {

// What the `strict` and `partial` flags of both entries mean, by name, for their callers:
//   ParseFromStream(reply, json::kLenient, json::kPartialInput)
inline constexpr bool kStrict = true;         // unquoted names and values refused
inline constexpr bool kLenient = false;       // unquoted names and values read
inline constexpr bool kPartialInput = true;   // the first complete value; text after it ignored
inline constexpr bool kWholeInput = false;    // text other than whitespace after the value: none

// Reads one JSON value from `stream`.
//
// Encoding: when the two bytes at the stream's current position are FF FE, the text from there is
// UTF-16 little-endian. Otherwise the whole stream is read from position 0, whatever the current
// position, one byte per character (byte value = character code, no UTF-8 decoding; a UTF-8
// byte-order mark starts a bare word and the document gives none). A memory stream positioned at
// 0 or at its end thus reads the same bytes; only a reply starting FF FE differs.
//
// The stream is read in 1024-byte chunks (2048 for UTF-16) and never held whole.
//   strict   false: accept unquoted names and values (the reader's normal lenient mode)
//   partial  true: the first complete value is the result and the text after it is ignored
//            (`{"a":1} <html>` gives the object). false: text other than whitespace after the
//            value gives none.
//   context  none for documents.
// A top-level literal or number needs a character after it ("true" alone gives none, "true\n"
// gives true), as the end of the stream does not end a value.
//
// The existence reply is read so:
//   rt::TStringStream& responseBuffer = ...;            // as the HTTP exchange left it
//   json::JsonRef reply = json::ParseFromStream(responseBuffer);
//   const bool wanted = reply && reply->BoolAt(u"success") && !reply->BoolAt(u"exist");
// (BoolAt reads an absent member as false, so `{"success":true}` is wanted.)
JsonRef ParseFromStream(rt::TStream& stream, bool strict = kLenient, bool partial = kPartialInput,
                        const JsonRef& context = {});

// Reads one JSON value from `text`, which ends at its first U+0000 or at the end of the view.
// With `context` given, bare words are names looked up in the context ("a", "a.b", "a[0]"); this
// is what IJsonValue::ValueAt does. With `partial` false, text after the value gives none.
JsonRef ParseFromText(std::u16string_view text, bool strict = kLenient, bool partial = kPartialInput,
                      const JsonRef& context = {});

}  // namespace json
