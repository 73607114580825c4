// Fuzz target: URL parsing, composing, path merging and the parameter-value encoding over
// arbitrary UTF-16 text, with the invariants every input must keep.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "http/FormEncoding.h"
#include "http/NetExceptions.h"
#include "http/TNetURI.h"

namespace {

// Two bytes per code unit, so that surrogates and every other unit are reachable.
std::u16string unitsOf(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < size; i += 2) text += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  return text;
}

void check(bool condition) {
  if (!condition) std::abort();
}

bool hasDoubleSlash(const std::u16string& text) { return text.find(u"//") != std::u16string::npos; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string text = unitsOf(data, size);

  net::TNetURI uri(text);
  check(uri.FullText.find(u'\\') == std::u16string::npos);
  if (!uri.Scheme.empty()) check(!uri.Path.empty() && uri.Path.front() == u'/');
  if (uri.Username.empty()) check(uri.Password.empty());
  // The parts never hold more than the text did.
  check(uri.Host.size() + uri.Port.size() + uri.Path.size() + uri.Document.size() + uri.Parameters.size() +
            uri.Fragment.size() <= text.size() + 1);
  (void)uri.TargetText();
  try {
    const std::u16string full = uri.ComposeURL(true, true);
    const std::u16string bare = uri.ComposeURL(false, false);
    check(bare.size() <= full.size());
    check(uri.ShortURL() == bare);
    check(uri.FullText == full);
  } catch (const net::ENetURIException&) {
    check(uri.Scheme.empty() || uri.Host.empty());
  }

  // Merging: a relative path never leaves a run of delimiters behind.
  const std::size_t half = text.size() / 2;
  const std::u16string base = text.substr(0, half), path = text.substr(half);
  const std::u16string merged = net::TNetURI::MergePath(base, path);
  if (path.empty() || path.front() != u'/') check(!hasDoubleSlash(merged));
  else check(merged == path);
  (void)net::TNetURI::MergePath(uri.Path, uri.Document);

  // Encoded values are plain ASCII without form syntax, or the text had a lone surrogate.
  try {
    const std::u16string encoded = net::EncodeParamValue(text);
    for (char16_t c : encoded) {
      check(c >= 0x21 && c <= 0x7F);
      check(c != u'&' && c != u'+' && c != u'=' && c != u' ');
    }
  } catch (const net::EEncodingError&) {
  }
  return 0;
}
