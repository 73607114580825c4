// The one error class of the catalogue layer: every failure of opening the catalogue database,
// running a statement or reading a result table is raised as an ESQLiteException. Only its
// message text is used.
#pragma once

#include "runtime/Exception.h"

namespace catalog {

class ESQLiteException : public rt::Exception {
 public:
  using rt::Exception::Exception;
};

}  // namespace catalog
