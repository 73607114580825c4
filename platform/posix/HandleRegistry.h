// The handle table of the Linux bitmap stand-in: every bitmap, icon and memory device context it
// hands out lives here behind a handle.
//
// Handles are numbers from one counter, never reused, so a handle of one kind is never found among
// another kind and a released handle stays dead: a stale or foreign handle is refused instead of
// touching freed memory. Objects are immutable once registered and shared, so a lookup hands out a
// reference that stays valid even if another thread releases the handle meanwhile.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/Bitmaps.h"

namespace platform::posix {

struct Bitmap;
class Icon;
struct DeviceContext {};  // a memory device context holds nothing the stand-in needs

// The kind of object behind each kind of handle.
template <typename Handle>
struct HandleKind;
template <>
struct HandleKind<BitmapHandle> {
  using Object = Bitmap;
};
template <>
struct HandleKind<IconHandle> {
  using Object = Icon;
};
template <>
struct HandleKind<DeviceContextHandle> {
  using Object = DeviceContext;
};
template <typename Handle>
using ObjectOf = typename HandleKind<Handle>::Object;

// Registers `object` under a new handle of its kind.
template <typename Handle>
Handle addObject(std::shared_ptr<const ObjectOf<Handle>> object);

// The object behind `handle`; none when the handle is none, released, or of another kind.
template <typename Handle>
std::shared_ptr<const ObjectOf<Handle>> findObject(Handle handle);

// Releases `handle`; false when it was not a live handle of its kind.
template <typename Handle>
bool removeObject(Handle handle);

// How many handles of the kind are alive.
template <typename Handle>
std::size_t liveObjectCount();

}  // namespace platform::posix
