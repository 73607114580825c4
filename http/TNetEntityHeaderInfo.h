// TNetEntityHeaderInfo: the header fields shared by requests and responses, typed, together with
// the wire header list (WireHeaders) they are built into or parsed from, and the custom lines a
// caller adds to a request.
#pragma once

#include <cstdint>
#include <string>

#include "http/NetDateTime.h"
#include "http/TNetHeaderList.h"

namespace net {

class TNetEntityHeaderInfo {
 public:
  // Runs ResetFields.
  TNetEntityHeaderInfo();
  virtual ~TNetEntityHeaderInfo() = default;
  TNetEntityHeaderInfo(const TNetEntityHeaderInfo&) = delete;
  TNetEntityHeaderInfo& operator=(const TNetEntityHeaderInfo&) = delete;

  // Empties the texts (CacheControl, Connection, ContentVersion, ContentDisposition,
  // ContentEncoding, ContentLanguage, ContentType, ETag), sets ContentLength to -1, the range
  // values and the dates to 0, and empties WireHeaders. Pragma and CustomHeaders stay.
  virtual void ResetFields();

  // Empties WireHeaders and writes the fields into it, in this order, each only when it has a
  // value: Connection, Content-Version, Content-Disposition, Content-Encoding, Content-Language,
  // Content-Type, Content-Length (when >= 0), Cache-control, Date, ETag, Expires, Pragma, then
  // the CustomHeaders lines as they are. A request adds its own rows after these.
  virtual void BuildHeaderLines();

  // Reads the fields from WireHeaders (the first line of each name). Content-Length is a 32-bit
  // decimal number, -1 when missing or not a number (so a length above 2147483647 is no length);
  // Content-Range "unit start-end/length" fills the three range values (0 when absent or not a
  // number); an "Expires" that is a number n counts n seconds from now (0 when negative).
  virtual void ParseHeaderLines();

  // Setting the length also sets HasContentLength to (value >= 0).
  std::int64_t ContentLength() const { return contentLength_; }
  void SetContentLength(std::int64_t value) {
    contentLength_ = value;
    hasContentLength_ = value >= 0;
  }
  bool HasContentLength() const { return hasContentLength_; }

  // The header lines as written or received (fold width 1024).
  TNetHeaderList& WireHeaders() { return wireHeaders_; }
  const TNetHeaderList& WireHeaders() const { return wireHeaders_; }
  // Extra request lines, appended after the entity rows (fold width 78).
  TNetHeaderList& CustomHeaders() { return customHeaders_; }
  const TNetHeaderList& CustomHeaders() const { return customHeaders_; }

  std::u16string CacheControl;
  std::u16string Connection;
  std::u16string ContentDisposition;
  std::u16string ContentEncoding;
  std::u16string ContentLanguage;
  std::int64_t ContentRangeEnd = 0;
  std::int64_t ContentRangeStart = 0;
  std::int64_t ContentRangeInstanceLength = 0;
  std::u16string ContentType;
  std::u16string ContentVersion;
  TDateTime Date = 0;
  TDateTime Expires = 0;
  std::u16string ETag;
  TDateTime LastModified = 0;
  std::u16string Pragma;

 private:
  void resetEntityFields();

  TNetHeaderList wireHeaders_{TNetHeaderList::kWireFoldWidth};
  TNetHeaderList customHeaders_{TNetHeaderList::kDefaultFoldWidth};
  std::int64_t contentLength_ = -1;
  bool hasContentLength_ = false;
};

}  // namespace net
