// Fuzz target: received header lines (unfolding, lookup, field parsing) and header writing
// (SetHeader with folding at a fuzzed width), with the invariants every input must keep.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/TNetRequestHeaderInfo.h"
#include "http/TNetResponseHeaderInfo.h"
#include "runtime/Text.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

// The characters above U+0020, in order: what folding must keep.
std::u16string visible(std::u16string_view text) {
  std::u16string out;
  for (char16_t c : text)
    if (c > u' ') out += c;
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const int width = data[0] % 120;
  const std::u16string text = rt::fromBytes8(std::string_view(reinterpret_cast<const char*>(data + 1), size - 1));

  // As received: one header line per LF (CR removed), parsed into the response fields.
  net::TNetResponseHeaderInfo response;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.pop_back();
    response.WireHeaders().Add(line);
    start = end + 1;
  }
  response.ParseHeaderLines();
  check(response.HasContentLength() == (response.ContentLength() >= 0));
  check(response.ContentLength() <= 2147483647);
  for (int i = 0; i < response.WireHeaders().Count(); ++i) {
    const std::u16string value = response.WireHeaders().ValueAt(i);
    check(value.empty() || (value.front() > u' ' && value.back() > u' '));
  }

  // As written: the text split in two at its first ":" becomes a name and a value.
  const std::size_t colon = text.find(u':');
  const std::u16string name = text.substr(0, colon == std::u16string::npos ? text.size() / 2 : colon);
  const std::u16string value = text.substr(name.size());
  net::TNetHeaderList list(width);
  list.Add(u"Before: 1");
  list.Add(name + u": old");
  list.Add(u" old continuation");
  list.SetHeader(name, value);
  list.SetHeader(u"After", value);

  // Folding loses and duplicates nothing but blanks; without line ends in the text every
  // continuation piece starts with a space.
  const std::u16string line = name + u": " + value;
  const rt::TStringList pieces = net::TNetHeaderList::FoldLine(line, width);
  std::u16string joined;
  for (int i = 0; i < pieces.Count(); ++i) {
    joined += pieces[i];
    if (i > 0 && line.find_first_of(u"\r\n") == std::u16string::npos)
      check(pieces[i].empty() || pieces[i].front() == u' ');
  }
  check(visible(joined) == visible(line));

  net::TNetRequestHeaderInfo request;
  request.CustomHeaders().Add(text);
  request.ContentType = value;
  request.Host = name;
  request.BuildHeaderLines();
  return 0;
}
