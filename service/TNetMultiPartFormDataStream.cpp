// The multipart body stream: part headers, file content and the closing line, produced as the
// reader asks for them.
#include "service/TNetMultiPartFormDataStream.h"

#include <algorithm>
#include <cstring>

#include "http/NetExceptions.h"
#include "runtime/Text.h"
#include "service/TNetMimeTable.h"
#include "service/TNetReadFileExclusiveStream.h"

namespace service {
namespace {

constexpr char16_t kCrLf[] = u"\r\n";

// The body is produced, never written to or resized.
[[noreturn]] void raiseUnsupported() { throw net::ENetException(u"Unsupported operation."); }

// Two or three decimal digits with leading zeros.
std::u16string digits(int value, int width) {
  std::u16string text = rt::intToText(value);
  if (static_cast<int>(text.size()) < width) text.insert(0, static_cast<size_t>(width) - text.size(), u'0');
  return text;
}

// "--------" and the time as mmddyyhhnnsszzz.
std::u16string boundaryFor(const platform::LocalTime& time) {
  return u"--------" + digits(time.month, 2) + digits(time.day, 2) + digits(time.year % 100, 2) +
         digits(time.hour, 2) + digits(time.minute, 2) + digits(time.second, 2) + digits(time.millisecond, 3);
}

}  // namespace

TNetMultiPartFormDataStream::TNetMultiPartFormDataStream() : TNetMultiPartFormDataStream(platform::localTime()) {}

TNetMultiPartFormDataStream::TNetMultiPartFormDataStream(const platform::LocalTime& created)
    : boundary_(boundaryFor(created)), formContentType_(u"multipart/form-data; boundary=" + boundary_) {}

std::string TNetMultiPartFormDataStream::EncodeText(std::u16string_view text) const { return rt::toAscii7(text); }

std::u16string TNetMultiPartFormDataStream::partHeader(const TNetFormDataField& part) const {
  const bool isFile = part.SourceObject != nullptr && !part.SourceFileName.empty();
  std::u16string header;
  header.reserve(160 + boundary_.size() + part.PartName.size() + part.SourceFileName.size() +
                 part.PartContentType.size() + part.TextValue.size());
  header.append(u"--").append(boundary_).append(u"\r\nContent-Disposition: form-data; name=\"").append(part.PartName);
  if (isFile) {
    header.append(u"\"; filename=\"").append(part.SourceFileName).append(u"\"\r\nContent-Type: ");
    return header.append(part.PartContentType).append(u"\r\n\r\n");
  }
  return header.append(u"\"\r\n\r\n").append(part.TextValue).append(kCrLf);
}

std::u16string TNetMultiPartFormDataStream::closingLine() const { return u"--" + boundary_ + u"--" + kCrLf; }

std::int64_t TNetMultiPartFormDataStream::partSize(const TNetFormDataField& part) const {
  auto size = static_cast<std::int64_t>(EncodeText(partHeader(part)).size());
  if (part.SourceObject != nullptr) size += part.SourceObject->Size() + static_cast<std::int64_t>(EncodeText(kCrLf).size());
  return size;
}

TNetFormDataField& TNetMultiPartFormDataStream::AddTextField(const std::u16string& name, const std::u16string& value) {
  auto part = std::make_unique<TNetFormDataField>();
  part->PartName = name;
  part->TextValue = value;
  declaredSize_ += partSize(*part);
  parts_.push_back(std::move(part));
  return *parts_.back();
}

TNetFormDataField& TNetMultiPartFormDataStream::AddFileField(const std::u16string& name, const std::u16string& path,
                                                            const std::u16string& contentType) {
  auto file = std::make_unique<TNetReadFileExclusiveStream>(path);
  auto part = std::make_unique<TNetFormDataField>();
  part->PartName = name;
  part->SourceFileName = path;
  part->SourceObject = file.get();
  part->OwnedSource = std::move(file);
  part->PartContentType = contentType.empty() ? MimeTypeForFile(path) : contentType;
  const std::int64_t size = partSize(*part);
  parts_.push_back(std::move(part));
  declaredSize_ += size;
  return *parts_.back();
}

void TNetMultiPartFormDataStream::queue(std::u16string_view text) {
  if (pendingStart_ == pending_.size()) {
    pending_.clear();
    pendingStart_ = 0;
  }
  pending_ += EncodeText(text);
}

// A rewind restarts the body at the first part; a file part being copied goes back to its start.
void TNetMultiPartFormDataStream::restart() {
  started_ = true;
  closed_ = false;
  partIndex_ = 0;
  pending_.clear();
  pendingStart_ = 0;
  if (currentSource_ != nullptr) currentSource_->Seek(0, rt::SeekOrigin::Beginning);
  currentSource_ = nullptr;
}

std::int64_t TNetMultiPartFormDataStream::NetRead(std::uint8_t* buffer, std::int64_t count) {
  if (!started_) restart();
  const auto partCount = static_cast<std::int32_t>(parts_.size());
  std::int64_t delivered = 0;
  while (delivered < count && (!closed_ || pendingStart_ < pending_.size())) {
    if (pendingStart_ == pending_.size() && currentSource_ == nullptr && partIndex_ < partCount) {
      TNetFormDataField& part = *parts_[static_cast<size_t>(partIndex_)];
      queue(partHeader(part));
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
        queue(kCrLf);
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

std::int64_t TNetMultiPartFormDataStream::NetWrite(const std::uint8_t*, std::int64_t) { raiseUnsupported(); }

void TNetMultiPartFormDataStream::NetSetSize(std::int64_t) { raiseUnsupported(); }

std::int64_t TNetMultiPartFormDataStream::NetSeek(std::int64_t offset, rt::SeekOrigin origin) {
  if (origin == rt::SeekOrigin::End) return declaredSize_ + static_cast<std::int64_t>(EncodeText(closingLine()).size());
  if (origin == rt::SeekOrigin::Beginning && offset == 0) {
    started_ = false;
    deliveredCount_ = 0;
    return 0;
  }
  return deliveredCount_;
}

}  // namespace service
