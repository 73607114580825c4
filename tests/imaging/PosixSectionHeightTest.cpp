// The ICO writer over a section whose own header gives its height as -2^31: top-down rows of a
// height that has no positive counterpart. The stand-in's making calls refuse such a header, so
// the test registers the section's record itself, as another platform might describe it.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>

#include "imaging/EInvalidGraphic.h"
#include "imaging/IconWriter.h"
#include "platform/posix/BitmapStandIn.h"
#include "platform/posix/HandleRegistry.h"
#include "platform/posix/StandInObjects.h"
#include "tests/imaging/IconFixtures.h"

using namespace iconfixtures;

namespace {

// Neither describing the section nor building an icon over it goes on with a height that cannot
// be made positive: both give "Bitmap image is not valid", and every handle is released.
TEST(PosixIconWriter, SectionHeightWithoutPositiveCounterpartRaises) {
  const std::size_t bitmaps = platform::posix::liveBitmapCount();
  platform::posix::Bitmap record;
  record.deviceIndependent = true;
  record.width = 48;
  record.height = 48;
  record.bits = 32;
  record.header = sectionHeader(48, std::numeric_limits<std::int32_t>::min(), 32);
  record.masks = platform::posix::plainMasks(32);
  record.rows.assign(48 * 48 * 4, 0x7F);
  const platform::BitmapHandle section =
      platform::posix::addObject<platform::BitmapHandle>(std::make_shared<const platform::posix::Bitmap>(record));
  try {
    imaging::DescribeBitmap(section, -1);
    ADD_FAILURE() << "described";
  } catch (const imaging::EInvalidGraphic& error) {
    EXPECT_EQ(error.Message(), u"Bitmap image is not valid");
  }
  const platform::IconHandle icon = iconOf(section, maskBitmap(48, 48, pictureMask));
  EXPECT_THROW(buildBytes(icon), imaging::EInvalidGraphic);
  platform::destroyIcon(icon);
  EXPECT_EQ(platform::posix::liveBitmapCount(), bitmaps);
}

}  // namespace
