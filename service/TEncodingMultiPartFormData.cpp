// The multipart body stream: part headers, file content and the closing line, produced as the
// reader asks for them, every text in UTF-8.
#include "service/TEncodingMultiPartFormData.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "http/NetExceptions.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"
#include "service/TNetReadFileExclusiveStream.h"

namespace service {
namespace {

constexpr char16_t kCrLf[] = u"\r\n";

// The body is produced, never written to or resized.
[[noreturn]] void raiseUnsupported() { throw net::ENetException(u"Unsupported operation."); }

// A file part's content is read for the boundary's scan in pieces of this size.
constexpr std::int64_t kScanPiece = 64 * 1024;

// How the body's texts become bytes.
std::string encodeText(std::u16string_view text) { return rt::toUtf8(text); }

}  // namespace

TEncodingMultiPartFormData::TEncodingMultiPartFormData() : TEncodingMultiPartFormData(platform::localTime()) {}

TEncodingMultiPartFormData::TEncodingMultiPartFormData(const platform::LocalTime& created)
    : boundary_(created),
      formContentType_(u"multipart/form-data; boundary=" + boundary_.Text()),
      delimiter_("--" + encodeText(boundary_.Text())) {}

// The part's header after its "--" and boundary: the lines that do not depend on the boundary,
// ending with the text value (or where a file's content starts).
std::string TEncodingMultiPartFormData::partLinesAfterBoundary(const TNetFormDataField& part) {
  const bool isFile = part.SourceObject != nullptr && !part.SourceFileName.empty();
  std::u16string header;
  header.reserve(140 + part.PartName.size() + part.SourceFileName.size() + part.PartContentType.size() +
                 part.TextValue.size());
  header.append(u"\r\nContent-Disposition: form-data; name=\"").append(part.PartName);
  if (isFile) {
    header.append(u"\"; filename=\"").append(part.SourceFileName).append(u"\"\r\nContent-Type: ");
    header.append(part.PartContentType).append(u"\r\n\r\n");
  } else {
    header.append(u"\"\r\n\r\n").append(part.TextValue).append(kCrLf);
  }
  return encodeText(header);
}

std::string TEncodingMultiPartFormData::closingLine() const { return delimiter_ + "--\r\n"; }

// Shows the content to the boundary in bounded pieces and leaves it at its start again.
// The content's size is what the body declares (the file is open against writers), so the scan
// reads that much and does not ask again for an end it knows (the extra read was one system call
// of the pass's 109 a row).
void TEncodingMultiPartFormData::scanContent(rt::TStream& content) {
  const std::int64_t size = content.Size();
  const std::int64_t pieceSize = std::clamp<std::int64_t>(size, 1, kScanPiece);
  const auto piece = std::make_unique_for_overwrite<char[]>(static_cast<size_t>(pieceSize));
  content.Seek(0, rt::SeekOrigin::Beginning);
  for (std::int64_t left = size, got; left > 0; left -= got) {
    got = content.Read(piece.get(), std::min(left, pieceSize));
    if (got <= 0) break;
    boundary_.Scan(std::string_view(piece.get(), static_cast<size_t>(got)));
  }
  content.Seek(0, rt::SeekOrigin::Beginning);
}

// Scans the part's header lines and content as one part (the header's last line break and the
// content's first bytes could make a delimiter together), moves the boundary past what it holds,
// and counts the part. Every boundary has the same length, so sizes counted before a later part
// moves it still hold.
TNetFormDataField& TEncodingMultiPartFormData::addPart(std::unique_ptr<TNetFormDataField> part) {
  std::string lines = partLinesAfterBoundary(*part);
  boundary_.Scan(lines);
  if (part->SourceObject != nullptr) scanContent(*part->SourceObject);
  boundary_.EndPart();
  formContentType_ = u"multipart/form-data; boundary=" + boundary_.Text();
  delimiter_ = "--" + encodeText(boundary_.Text());
  declaredSize_ += static_cast<std::int64_t>(delimiter_.size() + lines.size());
  if (part->SourceObject != nullptr) declaredSize_ += part->SourceObject->Size() + 2;
  partLines_.push_back(std::move(lines));
  parts_.push_back(std::move(part));
  return *parts_.back();
}

TNetFormDataField& TEncodingMultiPartFormData::AddTextField(const std::u16string& name, const std::u16string& value) {
  auto part = std::make_unique<TNetFormDataField>();
  part->PartName = name;
  part->TextValue = value;
  return addPart(std::move(part));
}

TNetFormDataField& TEncodingMultiPartFormData::AddFileField(const std::u16string& name, const std::u16string& path,
                                                            const std::u16string& contentType) {
  auto file = std::make_unique<TNetReadFileExclusiveStream>(path);
  auto part = std::make_unique<TNetFormDataField>();
  part->PartName = name;
  part->SourceFileName = path;
  part->SourceObject = file.get();
  part->OwnedSource = std::move(file);
  part->PartContentType = contentType.empty() ? MimeTypeForFile(path) : contentType;
  return addPart(std::move(part));
}

void TEncodingMultiPartFormData::queue(std::string_view bytes) {
  if (pendingStart_ == pending_.size()) {
    pending_.clear();
    pendingStart_ = 0;
  }
  pending_ += bytes;
}

// A rewind restarts the body at the first part; a file part being copied goes back to its start.
void TEncodingMultiPartFormData::restart() {
  started_ = true;
  closed_ = false;
  partIndex_ = 0;
  pending_.clear();
  pendingStart_ = 0;
  if (currentSource_ != nullptr) currentSource_->Seek(0, rt::SeekOrigin::Beginning);
  currentSource_ = nullptr;
}

std::int64_t TEncodingMultiPartFormData::Read(void* into, std::int64_t count) {
  auto* const buffer = static_cast<std::uint8_t*>(into);
  if (!started_) restart();
  const auto partCount = static_cast<std::int32_t>(parts_.size());
  std::int64_t delivered = 0;
  while (delivered < count && (!closed_ || pendingStart_ < pending_.size())) {
    if (pendingStart_ == pending_.size() && currentSource_ == nullptr && partIndex_ < partCount) {
      TNetFormDataField& part = *parts_[static_cast<size_t>(partIndex_)];
      queue(delimiter_);
      queue(partLines_[static_cast<size_t>(partIndex_)]);
      if (part.SourceObject != nullptr) {
        currentSource_ = part.SourceObject;
        currentSource_->Seek(0, rt::SeekOrigin::Beginning);
      } else {
        ++partIndex_;
      }
    }
    if (pendingStart_ < pending_.size()) {
      const auto n = static_cast<size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(pending_.size() - pendingStart_),
                                                                count - delivered));
      std::memcpy(buffer + delivered, pending_.data() + pendingStart_, n);
      pendingStart_ += n;
      delivered += static_cast<std::int64_t>(n);
      deliveredCount_ += static_cast<std::int64_t>(n);
    }
    if (currentSource_ != nullptr && delivered < count) {
      const std::int64_t asked = count - delivered;
      const std::int64_t got = std::max<std::int64_t>(0, currentSource_->Read(buffer + delivered, asked));
      if (got < asked) {
        // The content is exhausted: leave the file at its start for a later rewind.
        currentSource_->Seek(0, rt::SeekOrigin::Beginning);
        currentSource_ = nullptr;
        ++partIndex_;
        queue("\r\n");
      }
      delivered += got;
      deliveredCount_ += got;
    }
    if (partIndex_ >= partCount && currentSource_ == nullptr && !closed_) {
      queue(closingLine());
      closed_ = true;
      ++partIndex_;
    }
  }
  return delivered;
}

std::int64_t TEncodingMultiPartFormData::Write(const void*, std::int64_t) { raiseUnsupported(); }

void TEncodingMultiPartFormData::SetSize(std::int64_t) { raiseUnsupported(); }

std::int64_t TEncodingMultiPartFormData::Seek(std::int64_t offset, rt::SeekOrigin origin) {
  if (origin == rt::SeekOrigin::End) return declaredSize_ + static_cast<std::int64_t>(closingLine().size());
  if (origin == rt::SeekOrigin::Beginning && offset == 0) {
    started_ = false;
    deliveredCount_ = 0;
    return 0;
  }
  return deliveredCount_;
}

}  // namespace service
