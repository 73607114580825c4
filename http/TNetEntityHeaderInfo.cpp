// TNetEntityHeaderInfo: the entity header fields and their header lines.
#include "http/TNetEntityHeaderInfo.h"

#include <limits>

#include "runtime/Decimal.h"
#include "runtime/Text.h"

namespace net {
namespace {

constexpr std::int64_t kInt64Min = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kInt64Max = std::numeric_limits<std::int64_t>::max();

std::int64_t int64Or(std::u16string_view text, std::int64_t fallback) {
  return rt::parseDecimal(rt::trim(text), kInt64Min, kInt64Max, rt::Sign::Optional).value_or(fallback);
}

// Splits `text` at the first `delimiter`: gives the part before it and leaves the rest in `text`;
// without the delimiter the whole text is given and `text` becomes empty.
std::u16string fetch(std::u16string& text, char16_t delimiter) {
  const std::size_t at = text.find(delimiter);
  std::u16string head = text.substr(0, at);
  text = at == std::u16string::npos ? std::u16string() : text.substr(at + 1);
  return head;
}

}  // namespace

TNetEntityHeaderInfo::TNetEntityHeaderInfo() { resetEntityFields(); }

void TNetEntityHeaderInfo::ResetFields() { resetEntityFields(); }

void TNetEntityHeaderInfo::resetEntityFields() {
  CacheControl.clear();
  Connection.clear();
  ContentVersion.clear();
  ContentDisposition.clear();
  ContentEncoding.clear();
  ContentLanguage.clear();
  ContentType.clear();
  ETag.clear();
  SetContentLength(-1);
  ContentRangeStart = 0;
  ContentRangeEnd = 0;
  ContentRangeInstanceLength = 0;
  Date = 0;
  Expires = 0;
  LastModified = 0;
  wireHeaders_.Clear();
}

void TNetEntityHeaderInfo::BuildHeaderLines() {
  TNetHeaderList& wire = wireHeaders_;
  wire.Clear();
  if (!Connection.empty()) wire.SetHeader(u"Connection", Connection);
  if (!ContentVersion.empty()) wire.SetHeader(u"Content-Version", ContentVersion);
  if (!ContentDisposition.empty()) wire.SetHeader(u"Content-Disposition", ContentDisposition);
  if (!ContentEncoding.empty()) wire.SetHeader(u"Content-Encoding", ContentEncoding);
  if (!ContentLanguage.empty()) wire.SetHeader(u"Content-Language", ContentLanguage);
  if (!ContentType.empty()) wire.SetHeader(u"Content-Type", ContentType);
  if (contentLength_ >= 0) wire.SetHeader(u"Content-Length", rt::intToText(contentLength_));
  if (!CacheControl.empty()) wire.SetHeader(u"Cache-control", CacheControl);
  if (Date > 0) wire.SetHeader(u"Date", internetDateText(Date));
  if (!ETag.empty()) wire.SetHeader(u"ETag", ETag);
  if (Expires > 0) wire.SetHeader(u"Expires", internetDateText(Expires));
  if (!Pragma.empty()) wire.SetHeader(u"Pragma", Pragma);
  // Custom lines go in as they are, re-split into lines.
  if (customHeaders_.Count() > 0) wire.SetText(wire.Text() + customHeaders_.Text());
}

void TNetEntityHeaderInfo::ParseHeaderLines() {
  const TNetHeaderList& wire = wireHeaders_;
  CacheControl = wire.ValueOf(u"Cache-control");
  Connection = wire.ValueOf(u"Connection");
  ContentVersion = wire.ValueOf(u"Content-Version");
  ContentDisposition = wire.ValueOf(u"Content-Disposition");
  ContentEncoding = wire.ValueOf(u"Content-Encoding");
  ContentLanguage = wire.ValueOf(u"Content-Language");
  ContentType = wire.ValueOf(u"Content-Type");

  // A 32-bit length (RFC 9110 section 8.6 allows more; a larger one counts as no length).
  SetContentLength(rt::parseDecimal(wire.ValueOf(u"Content-Length"), std::numeric_limits<std::int32_t>::min(),
                                    std::numeric_limits<std::int32_t>::max(), rt::Sign::Optional)
                       .value_or(-1));

  // "Content-Range: bytes start-end/length" (RFC 9110 section 14.4); "*" and garbage read as 0.
  ContentRangeStart = 0;
  ContentRangeEnd = 0;
  ContentRangeInstanceLength = 0;
  if (wire.FindName(u"Content-Range") >= 0) {
    std::u16string rest = wire.ValueOf(u"Content-Range");
    fetch(rest, u' ');
    std::u16string range = fetch(rest, u'/');
    ContentRangeInstanceLength = int64Or(rest, 0);
    ContentRangeStart = int64Or(fetch(range, u'-'), 0);
    ContentRangeEnd = int64Or(range, 0);
  }

  Date = parseInternetDate(wire.ValueOf(u"Date"));
  LastModified = parseInternetDate(wire.ValueOf(u"Last-Modified"));
  const std::u16string expires = wire.ValueOf(u"Expires");
  if (const auto seconds = rt::parseDecimal(expires, kInt64Min, kInt64Max, rt::Sign::Optional)) {
    // A number of seconds from now (a cache-lifetime form some servers send).
    Expires = *seconds < 0 ? 0 : localNow() + static_cast<double>(*seconds) / 86400.0;
  } else {
    Expires = parseInternetDate(expires);
  }

  ETag = wire.ValueOf(u"ETag");
  Pragma = wire.ValueOf(u"Pragma");
}

}  // namespace net
