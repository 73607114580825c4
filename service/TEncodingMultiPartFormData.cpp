// The upload body's text encoding.
#include "service/TEncodingMultiPartFormData.h"

#include "runtime/Text.h"

namespace service {

std::string TEncodingMultiPartFormData::EncodeText(std::u16string_view text) const { return rt::toUtf8(text); }

}  // namespace service
