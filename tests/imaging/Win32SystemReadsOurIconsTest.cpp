// Our ICO files read by a decoder nobody here wrote: the system's. Each icon is saved through the
// icon object, the system takes it out of that file again (PrivateExtractIconsW at 48x48, as the
// pass asks for icons), and the pixels it hands back must be the ones the icon was made of.
#include <gtest/gtest.h>

#include "imaging/TIcon.h"
#include "platform/Executable.h"
#include "tests/imaging/IconFixtures.h"
#include "tests/support/TempFolder.h"

using namespace iconfixtures;
using testsupport::devicePalette;

namespace {

// Saves `icon` as `name`.ico and returns what the system decodes from that file, rewritten by the
// writer (whose own tests pin down that it keeps the pixels it is handed).
IcoImage throughTheSystem(const testsupport::TempFolder& folder, const std::string& name, HICON icon) {
  {
    imaging::TIcon owner;
    owner.AssignImage(readBack(icon));
    owner.SaveIconFile(folder.file(name + ".ico"));
  }
  const auto decoded = platform::Executable(folder.file(name + ".ico")).iconBitmaps48();
  if (!decoded) {
    ADD_FAILURE() << "the system found no icon in " << name << ".ico";
    return {};
  }
  return readIco(build(*decoded));
}

}  // namespace

// 32-bit icons carry their own alpha; 24-bit and palette icons take transparency from the mask.
TEST(Win32SystemReadsOurIcons, ColourIconsDecodeToTheirSourcePixels) {
  LiveObjects live;
  testsupport::TempFolder folder;
  expectPixels(throughTheSystem(folder, "rgba", pictureIcon()), picture, pictureMask, true);
  expectPixels(
      throughTheSystem(folder, "rgb", iconOf(deviceBitmap(48, 48, 24, picture), maskBitmap(48, 48, pictureMask))),
      picture, pictureMask, false);
  for (int bits : {4, 8}) {
    const auto index = [bits](int x, int y) { return static_cast<std::uint32_t>(x * 7 + y * 3) % (1u << bits); };
    const std::vector<std::uint32_t> palette = devicePalette(bits);
    const IcoImage image = throughTheSystem(folder, "palette" + std::to_string(bits),
                                            iconOf(deviceBitmap(48, 48, bits, index), maskBitmap(48, 48, pictureMask)));
    expectPixels(image, [&](int x, int y) { return palette.at(index(x, y)); }, pictureMask, false);
  }
}

// The monochrome icon written as a 1-bit image: white where the XOR half is set, transparent
// where the AND half is.
TEST(Win32SystemReadsOurIcons, MonochromeIconDecodes) {
  LiveObjects live;
  testsupport::TempFolder folder;
  const auto andBit = [](int x, int y) { return (x + y) % 5 == 0; };
  const auto xorBit = [](int x, int y) { return x * 2 > y + 10; };
  const IcoImage image = throughTheSystem(
      folder, "mono",
      iconOf(nullptr, maskBitmap(48, 96, [&](int x, int y) { return y < 48 ? andBit(x, y) : xorBit(x, y - 48); })));
  expectPixels(image, [&](int x, int y) { return xorBit(x, y) ? 0xFFFFFFu : 0u; }, andBit, false);
}
