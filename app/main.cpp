// Program entry: single-instance check, application start-up, the pass, and shutdown.
#include "app/Umain.h"
#include "platform/ProgramFolder.h"
#include "platform/SingleInstance.h"
#include "runtime/TApplication.h"

int main() {
  if (platform::claimSingleInstance() == platform::InstanceClaim::AlreadyRunning) return 0;
  const std::u16string path = platform::executablePath();
  rt::TApplication application(path.substr(path.find_last_of(u'/') + 1));
  application.Initialize();
  application.CreateForm([] { app::FormCreate(); });
  application.Run();
  return 0;
}
