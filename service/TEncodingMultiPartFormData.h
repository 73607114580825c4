// The upload's "multipart/form-data" request body (RFC 7578) produced on demand: part headers are
// encoded when their part starts, and file content goes from the open file straight into the
// reader's buffer, so the body is never held in memory. Every text of the body is written as
// UTF-8, so names and paths outside ASCII reach the service intact; sizes count the UTF-8 bytes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/LocalTime.h"
#include "runtime/TStream.h"
#include "service/MultipartBoundary.h"

namespace service {

// One part of the form: a text value, or content from a stream with a file name and type.
struct TNetFormDataField {
  std::u16string TextValue;
  std::u16string SourceFileName;
  std::u16string PartContentType;
  std::u16string PartName;
  // Supplies a file part's content; none for a text part.
  rt::TStream* SourceObject = nullptr;
  // Holds SourceObject when the part owns it (a file part owns its file stream).
  std::unique_ptr<rt::TStream> OwnedSource;
};

class TEncodingMultiPartFormData : public rt::TStream {
 public:
  // The boundary comes from the current local time.
  TEncodingMultiPartFormData();
  // The boundary comes from `created` (tests fix it this way).
  explicit TEncodingMultiPartFormData(const platform::LocalTime& created);

  // Appends a text part. When its bytes hold the delimiter of the boundary, the boundary moves
  // on (see MultipartBoundary).
  TNetFormDataField& AddTextField(const std::u16string& name, const std::u16string& value);
  // Opens `path` (read only, others may not write) and appends a file part whose filename
  // attribute is `path` as given; an empty `contentType` is looked up from the extension. The
  // file's content is read through once here, for the boundary's sake, in bounded chunks.
  // Raises EFOpenError when the file cannot be opened; nothing is added then.
  TNetFormDataField& AddFileField(const std::u16string& name, const std::u16string& path,
                                  const std::u16string& contentType);

  // "--------" followed by the creation time as mmddyyhhnnsszzz, or by a later millisecond's
  // when a part holds the creation time's delimiter. Final once the last part is added.
  const std::u16string& BoundaryText() const { return boundary_.Text(); }
  // "multipart/form-data; boundary=" followed by the boundary.
  const std::u16string& FormContentType() const { return formContentType_; }

  std::int64_t Read(void* buffer, std::int64_t count) override;
  // Writing and resizing raise net::ENetException "Unsupported operation.".
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  // Only a rewind (offset 0 from the beginning) moves; from the end the result is the body size;
  // everything else leaves the position where it is and returns it.
  std::int64_t Seek(std::int64_t offset, rt::SeekOrigin origin) override;
  void SetSize(std::int64_t size) override;

 private:
  static std::string partLinesAfterBoundary(const TNetFormDataField& part);
  TNetFormDataField& addPart(std::unique_ptr<TNetFormDataField> part);
  void scanContent(rt::TStream& content);
  std::string closingLine() const;
  void queue(std::string_view bytes);
  void restart();

  rt::TStream* currentSource_ = nullptr;
  MultipartBoundary boundary_;
  std::u16string formContentType_;
  std::int32_t partIndex_ = 0;
  bool started_ = false;
  bool closed_ = false;        // the closing line has been queued since the last restart
  std::string pending_;        // encoded bytes not yet handed out, from pendingStart_ on
  size_t pendingStart_ = 0;
  std::int64_t deliveredCount_ = 0;
  std::int64_t declaredSize_ = 0;
  std::vector<std::unique_ptr<TNetFormDataField>> parts_;
  // Each part's header lines after its boundary, encoded once when the part is added: the bytes
  // scanned for the boundary, counted in the size and sent are the same (encoding them for each
  // of the three cost the pass 2.7% of its instructions).
  std::vector<std::string> partLines_;
  std::string delimiter_;      // "--" and the boundary, encoded
};

}  // namespace service
