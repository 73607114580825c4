// The upload request's multipart body.
#pragma once

#include <string>
#include <string_view>

#include "service/TNetMultiPartFormDataStream.h"

namespace service {

// The upload's body: the same stream with every text written as UTF-8, so names and paths
// outside ASCII reach the service intact. Sizes count the UTF-8 bytes.
class TEncodingMultiPartFormData : public TNetMultiPartFormDataStream {
 public:
  using TNetMultiPartFormDataStream::TNetMultiPartFormDataStream;

 protected:
  std::string EncodeText(std::u16string_view text) const override;
};

}  // namespace service
