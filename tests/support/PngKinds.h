// The kinds of PNG icon image that the two builds must agree on, each as a 48x48 image with the
// pixels the PNG format gives it: every colour type and depth an icon may hold, and the damaged
// or unusual ones the checks of executables refuse. Shared by the checks' tests, the Linux
// decoder's, the Windows icon tests and the hostile-file generator, so all four judge one table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct PngKind {
  std::string what;
  std::string png;                  // the whole image, 48x48
  bool accepted = true;             // whether the checks of executables let it through
  // The image's pixels as the PNG format defines them (0xAARRGGBB, top row first; empty when
  // refused), which the Linux build hands back.
  std::vector<std::uint32_t> argb;
  // The system's PNG decoder under Wine hands such an image back with red and blue swapped and
  // alpha 0 everywhere, its tRNS transparency dropped: true for images without an alpha channel
  // of their own (greyscale and RGB, with or without tRNS, and palettes without tRNS).
  bool wineSwapsColours = false;
};

// Every kind, accepted ones first.
std::vector<PngKind> pngKinds();

}  // namespace testsupport
