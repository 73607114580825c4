// Form parameter encoding: how a list of "name=value" lines becomes the text of an
// "application/x-www-form-urlencoded" body (WHATWG URL standard, section 5).
#pragma once

#include <string>
#include <string_view>

#include "http/TNetHTTPOptions.h"
#include "runtime/Exception.h"
#include "runtime/TStringList.h"

namespace net {

// A text that cannot be encoded: a lone surrogate.
class EEncodingError : public rt::Exception {
  using rt::Exception::Exception;
};

// The body text of `list`. With hoForceEncodeParams in `options`, EncodeFormFields first rewrites
// the caller's list in place. The list's text (each line + CR LF) is trimmed of characters up to
// U+0020 at both ends; with two or more lines every CR LF then becomes "&".
// Throws EEncodingError on a lone surrogate (the list may already be partly rewritten).
std::u16string BuildFormText(rt::TStringList& list, TNetHTTPOptions options);

// Rewrites every line that holds "=" as: the text before its first "=", "=", EncodeParamValue of
// everything after it. Lines without "=" stay as they are.
void EncodeFormFields(rt::TStringList& list);

// Percent-encodes a value, each byte as "%" and two upper-case hex digits: the unsafe characters
// "*#%<> []", the form syntax characters "&", "+" and "=", the controls U+0000..U+001F and every
// character above U+007F (as the UTF-8 bytes of its code point; a surrogate pair is one code
// point). Everything else (U+0021..U+007F) is kept.
// Throws EEncodingError:
//   "High surrogate char without a following low surrogate char at index: %d. Check that the
//    string is encoded properly" / "Low surrogate char without a preceding high surrogate char at
//    index: %d. Check that the string is encoded properly" (1-based position).
std::u16string EncodeParamValue(std::u16string_view value);

}  // namespace net
