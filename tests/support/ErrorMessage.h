// The message of the error an action raises, for tests that compare it with the expected text.
#pragma once

#include <string>
#include <utility>

#include "runtime/Exception.h"

namespace testsupport {

// The message of the error of kind `E` that `action` raises, or "<no error>" when it raises
// none (which then fails the comparison and shows why). Errors of other kinds pass through.
template <typename E = rt::Exception, typename Action>
std::u16string messageOf(Action&& action) {
  try {
    std::forward<Action>(action)();
  } catch (const E& error) {
    return error.Message();
  }
  return u"<no error>";
}

}  // namespace testsupport
