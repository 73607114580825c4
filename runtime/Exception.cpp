// The common error base.
#include "runtime/Exception.h"

#include <utility>

#include "runtime/Text.h"

namespace rt {

Exception::Exception(std::u16string message) : message_(std::move(message)), utf8_(toUtf8(message_)) {}

}  // namespace rt
