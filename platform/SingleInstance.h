// One running instance per logon, under the name "TALVENOOK".
#pragma once

namespace platform {

enum class InstanceClaim {
  Acquired,        // this process now holds the name until it exits
  AlreadyRunning,  // another process holds the name
  Unavailable,     // the guard could not be set up; callers carry on as if alone
};

// Claims the process-wide instance name "TALVENOOK". The claim is held by the process until it
// exits (the operating system releases it even after a crash); nothing here releases it earlier.
InstanceClaim claimSingleInstance();

}  // namespace platform
