// The version text of an executable.
#include "imaging/FileVersion.h"

#include <exception>
#include <new>

#include "platform/DebugChannel.h"
#include "platform/Executable.h"
#include "runtime/Exception.h"
#include "runtime/Text.h"

namespace imaging {

std::u16string fileVersionText(const platform::Executable& executable) {
  try {
    const auto words = executable.fileVersionWords();
    if (!words) return u"0.0.0.0";
    return rt::intToText(words->mostSignificant >> 16) + u"." + rt::intToText(words->mostSignificant & 0xFFFF) + u"." +
           rt::intToText(words->leastSignificant >> 16) + u"." + rt::intToText(words->leastSignificant & 0xFFFF);
  } catch (const rt::Exception& error) {
    platform::debugOutput(u"ResponseStream: " + error.Message());
  } catch (const std::bad_alloc&) {
    platform::debugOutput(u"ResponseStream: Out of memory");
  } catch (const std::exception& error) {
    platform::debugOutput(u"ResponseStream: " + rt::fromUtf8(error.what()));
  }
  return u"0.0.0.0";
}

}  // namespace imaging
