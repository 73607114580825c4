// Icons of the Linux bitmap stand-in that misbehave when their bitmaps are asked for, so that
// the failure paths of the icon's users can be driven. The stand-in itself knows no faults: a
// test registers an icon of its own kind, which fails where the stand-in's icons do not.
#pragma once

#include <memory>

#include "platform/Bitmaps.h"
#include "platform/posix/BitmapStandIn.h"
#include "platform/posix/HandleRegistry.h"
#include "platform/posix/StandInObjects.h"

namespace iconfixtures {

// getIconInfo fails; or the colour (or mask) handle it hands out is one that getObject and
// getDIBits refuse, as they refuse a handle the platform no longer knows.
enum class IconFault { NoIconInfo, UndescribableColour, UndescribableMask };

class FaultyIcon : public platform::posix::Icon {
 public:
  FaultyIcon(const platform::posix::Icon& icon, IconFault fault) : Icon(icon), fault_(fault) {}

  bool handOut(platform::IconInfo& info) const override {
    if (fault_ == IconFault::NoIconInfo || !Icon::handOut(info)) return false;
    // The refused handle is released at once: the caller holds a handle nobody knows any more.
    if (fault_ == IconFault::UndescribableColour && info.colour) platform::deleteObject(info.colour);
    if (fault_ == IconFault::UndescribableMask) platform::deleteObject(info.mask);
    return true;
  }

 private:
  IconFault fault_;
};

// An icon over `colour` and `mask` that misbehaves as `fault` says; the two bitmaps are released
// here. None when the stand-in cannot make the icon.
inline platform::IconHandle faultyIconOf(platform::BitmapHandle colour, platform::BitmapHandle mask, IconFault fault) {
  const platform::IconHandle made = platform::posix::createIcon(colour, mask);
  if (colour) platform::deleteObject(colour);
  if (mask) platform::deleteObject(mask);
  const auto icon = platform::posix::findObject(made);
  if (!icon) return nullptr;
  platform::destroyIcon(made);
  return platform::posix::addObject<platform::IconHandle>(std::make_shared<const FaultyIcon>(*icon, fault));
}

}  // namespace iconfixtures
