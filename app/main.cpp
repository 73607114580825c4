// Program entry. In order: the single-instance check (a second instance exits at once with code
// 0, having read nothing), application start-up, the main window whose creation runs the upload
// pass, the message loop that ends at the pass's termination request, and exit with code 0.
#include <cstdio>
#include <exception>

#include "app/LiveUploadRoles.h"
#include "app/Umain.h"
#include "platform/ProgramFolder.h"
#include "platform/SingleInstance.h"
#include "runtime/TApplication.h"

namespace {

std::u16string executableName() {
  const std::u16string path = platform::executablePath();
  return path.substr(path.find_last_of(platform::pathSeparator()) + 1);
}

int run() {
  if (platform::claimSingleInstance() == platform::InstanceClaim::AlreadyRunning) return 0;

  rt::TApplication application(executableName());
  application.Initialize();
  application.SetMainFormOnTaskBar(false);
  app::LiveIconSource icons;
  app::LiveIconService service;
  const app::UploadRoles roles{icons, service, [&application] { application.Terminate(); }};
  application.CreateForm(app::TFrm_image::NativeAttributes(), [&] {
    const app::TFrm_image window([&] { app::FormCreate(roles, platform::programFolder()); });
  });
  application.Run();
  return 0;
}

}  // namespace

int main() {
  // The last-chance handler: an error outside the creation handler ends the process with code 1.
  try {
    return run();
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
