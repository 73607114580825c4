// The icons the program writes pass the reference service's ICO check: the demo's sample
// executables (tools/make_sample_pe) go through the program's own extraction, ICO writer and
// version reader, and each written file is handed to iconservice/lib/IcoFile.php. A mismatch
// between writer and check would make every upload of that kind fail in production.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "imaging/FileVersion.h"
#include "imaging/TIcon.h"
#include "platform/Executable.h"
#include "runtime/Text.h"
#include "tests/support/PeWriter.h"
#include "tests/support/TempFolder.h"

namespace {

// What the service's check says about `icoPath`: "ok" or its reason.
std::string serviceVerdict(const std::filesystem::path& icoPath) {
  const std::string command = std::string("php -r 'require \"") + TALVENOOK_SOURCE_DIR +
                              "/iconservice/lib/IcoFile.php\"; echo IconService\\IcoFile::problem("
                              "file_get_contents($argv[1])) ?? \"ok\";' '" + icoPath.string() + "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string output;
  std::array<char, 256> chunk{};
  while (pipe && std::fgets(chunk.data(), chunk.size(), pipe.get())) output += chunk.data();
  return output;
}

// Extracts the 48x48 icon of `exe` and writes it as the pass does; false when there is none.
bool writeProgramIcon(const std::filesystem::path& exe, const std::filesystem::path& ico) {
  auto bitmaps = platform::Executable(rt::fromUtf8(exe.string())).iconBitmaps48();
  if (!bitmaps) return false;
  imaging::TIcon icon;
  icon.AssignImage(std::move(*bitmaps));
  icon.SaveIconFile(rt::fromUtf8(ico.string()));
  return true;
}

}  // namespace

// Every demo sample: bitmap and PNG images, with their version resources.
TEST(ProgramIconsAccepted, DemoSamplesPassTheServiceCheck) {
  testsupport::TempFolder folder;
  const std::vector<std::string> versions = {"2.4.1.0", "1.0.3.7", "5.1.0.2", "3.0.0.12", "8.6.2.0", "0.9.1.4"};
  for (std::size_t seed = 0; seed < versions.size(); ++seed) {
    const auto exe = folder.path() / ("sample" + std::to_string(seed) + ".exe");
    const auto ico = folder.path() / (std::to_string(seed) + ".ico");
    const std::string make = std::string(MAKE_SAMPLE_PE) + " '" + exe.string() + "' " + versions[seed] + " " +
                             std::to_string(seed);
    ASSERT_EQ(std::system(make.c_str()), 0) << make;
    ASSERT_TRUE(writeProgramIcon(exe, ico)) << "no icon in sample " << seed;
    EXPECT_EQ(serviceVerdict(ico), "ok") << "sample " << seed;
    EXPECT_EQ(rt::toUtf8(imaging::fileVersionText(platform::Executable(rt::fromUtf8(exe.string())))), versions[seed]);
    const std::string bytes = testsupport::readFileBytes(ico);
    ASSERT_GE(bytes.size(), 22u);
    EXPECT_EQ(static_cast<unsigned char>(bytes[6]), 48u) << "written width";
    EXPECT_EQ(static_cast<unsigned char>(bytes[7]), 48u) << "written height";
  }
}

// A monochrome icon is written as a 1-bit ICO; the service must take that too.
TEST(ProgramIconsAccepted, MonochromeIconPassesTheServiceCheck) {
  testsupport::TempFolder folder;
  std::vector<std::uint32_t> pixels(48 * 48);
  for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = ((i / 48 + i % 48) / 6) % 2;
  const std::string image = testsupport::bmpIconImage(48, 48, 1, {0xFF000000, 0xFFFFFFFF}, pixels);
  testsupport::IconDirEntry entry;
  entry.bitCount = 1;
  entry.bytes = static_cast<std::uint32_t>(image.size());
  testsupport::PeWriter writer;
  writer.add(3, 1, image);
  writer.add(14, 1, testsupport::iconGroup({entry}));
  writer.writeTo(folder.path() / "mono.exe");

  ASSERT_TRUE(writeProgramIcon(folder.path() / "mono.exe", folder.path() / "mono.ico"));
  EXPECT_EQ(serviceVerdict(folder.path() / "mono.ico"), "ok");
}
