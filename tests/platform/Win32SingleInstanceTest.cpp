// The Windows single-instance guard: the named mutex, claimed twice, and a name that another
// kind of object holds.
#include <gtest/gtest.h>

#include <string>

#include "platform/SingleInstance.h"
#include "platform/win32/SingleInstanceName.h"
#include "platform/win32/Win32Text.h"

using platform::InstanceClaim;

namespace {

std::wstring uniqueName(const wchar_t* what) {
  return L"TalvenookTest-" + std::wstring(what) + L"-" + std::to_wstring(GetCurrentProcessId());
}

}  // namespace

// The first claim of a name makes the mutex; a second claim, even from the same process, finds
// it (ERROR_ALREADY_EXISTS, 183). The program's own name behaves the same.
TEST(Win32SingleInstance, ASecondClaimOfTheNameFindsItTaken) {
  const std::wstring name = uniqueName(L"mutex");
  EXPECT_EQ(platform::win32::claimInstanceName(name.c_str()), InstanceClaim::Acquired);
  EXPECT_EQ(platform::win32::claimInstanceName(name.c_str()), InstanceClaim::AlreadyRunning);

  platform::claimSingleInstance();  // Acquired, or AlreadyRunning while a program run holds it
  EXPECT_EQ(platform::claimSingleInstance(), InstanceClaim::AlreadyRunning);
}

// A name held by an object of another type fails the creation for another reason than 183:
// the program carries on as if alone.
TEST(Win32SingleInstance, ANameHeldByAnotherKindOfObjectLetsTheProgramCarryOn) {
  const std::wstring name = uniqueName(L"event");
  const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name.c_str());
  ASSERT_NE(event, nullptr);
  EXPECT_EQ(platform::win32::claimInstanceName(name.c_str()), InstanceClaim::Unavailable);
  CloseHandle(event);
}
