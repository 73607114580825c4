// Single instance on Windows: the named mutex "TALVENOOK" in the logon's object namespace,
// created with initial ownership. Its handle is deliberately never closed, so the process holds
// the name until it exits, when the system releases it (also after a crash).
#include "platform/SingleInstance.h"

#include "platform/win32/SingleInstanceName.h"
#include "platform/win32/Win32Text.h"

namespace platform {

namespace win32 {

InstanceClaim claimInstanceName(const wchar_t* name) {
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, name);
  // Read at once: the next system call may change it.
  const DWORD error = GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return InstanceClaim::AlreadyRunning;
  // A creation that failed for another reason (the name held by an object of another type, no
  // access) lets the program carry on as if alone.
  return mutex != nullptr ? InstanceClaim::Acquired : InstanceClaim::Unavailable;
}

}  // namespace win32

InstanceClaim claimSingleInstance() { return win32::claimInstanceName(L"TALVENOOK"); }

}  // namespace platform
