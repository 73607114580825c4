// The HTTP client as callers create it: TNetCustomHTTP with nothing added.
#pragma once

#include "http/TNetCustomHTTP.h"

namespace net {

class TNetHTTP : public TNetCustomHTTP {};

}  // namespace net
