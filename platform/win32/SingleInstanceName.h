// The named-mutex claim behind claimSingleInstance, under any name, so that the Windows tests
// can exercise it without touching the program's own name. platform/win32 and tests only.
#pragma once

#include "platform/SingleInstance.h"

namespace platform::win32 {

// Creates the mutex `name` with initial ownership and never closes its handle: Acquired when
// this call made it, AlreadyRunning when it existed already (also when this process made it),
// Unavailable when the creation failed for another reason.
InstanceClaim claimInstanceName(const wchar_t* name);

}  // namespace platform::win32
