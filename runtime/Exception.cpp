// The common error base and the runtime's raising functions.
#include "runtime/Exception.h"

#include <utility>

#include "runtime/Text.h"

namespace rt {

Exception::Exception(std::u16string message) : message_(std::move(message)), utf8_(toUtf8(message_)) {}

void raiseWriteError() { throw EWriteError(u"Stream write error"); }

}  // namespace rt
