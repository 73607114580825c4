// The handle table of the Linux bitmap stand-in: one map per kind of object, one counter and one
// lock for all of them.
#include "platform/posix/HandleRegistry.h"

#include <cstdint>
#include <mutex>
#include <tuple>
#include <unordered_map>

namespace platform::posix {
namespace {

template <typename Object>
using Table = std::unordered_map<std::uintptr_t, std::shared_ptr<const Object>>;

class Registry {
 public:
  static Registry& instance() {
    static Registry registry;
    return registry;
  }

  template <typename Object>
  std::uintptr_t add(std::shared_ptr<const Object> object) {
    std::lock_guard lock(mutex_);
    const std::uintptr_t id = next_++;
    table<Object>().emplace(id, std::move(object));
    return id;
  }
  template <typename Object>
  std::shared_ptr<const Object> find(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    const auto found = table<Object>().find(id);
    return found == table<Object>().end() ? nullptr : found->second;
  }
  template <typename Object>
  bool remove(std::uintptr_t id) {
    std::lock_guard lock(mutex_);
    return table<Object>().erase(id) != 0;
  }
  template <typename Object>
  std::size_t count() {
    std::lock_guard lock(mutex_);
    return table<Object>().size();
  }

 private:
  template <typename Object>
  Table<Object>& table() {
    return std::get<Table<Object>>(tables_);
  }

  std::mutex mutex_;
  std::uintptr_t next_ = 0x1000;
  std::tuple<Table<Bitmap>, Table<Icon>, Table<DeviceContext>> tables_;
};

// Handles are the registry's numbers dressed as the seam's opaque pointer types.
template <typename Handle>
std::uintptr_t idOf(Handle handle) {
  return reinterpret_cast<std::uintptr_t>(handle);
}

}  // namespace

template <typename Handle>
Handle addObject(std::shared_ptr<const ObjectOf<Handle>> object) {
  return reinterpret_cast<Handle>(Registry::instance().add(std::move(object)));
}

template <typename Handle>
std::shared_ptr<const ObjectOf<Handle>> findObject(Handle handle) {
  if (handle == nullptr) return nullptr;
  return Registry::instance().find<ObjectOf<Handle>>(idOf(handle));
}

template <typename Handle>
bool removeObject(Handle handle) {
  return handle != nullptr && Registry::instance().remove<ObjectOf<Handle>>(idOf(handle));
}

template <typename Handle>
std::size_t liveObjectCount() {
  return Registry::instance().count<ObjectOf<Handle>>();
}

#define TALVENOOK_HANDLE_KIND(Handle)                                               \
  template Handle addObject<Handle>(std::shared_ptr<const ObjectOf<Handle>>);      \
  template std::shared_ptr<const ObjectOf<Handle>> findObject<Handle>(Handle);     \
  template bool removeObject<Handle>(Handle);                                      \
  template std::size_t liveObjectCount<Handle>();
TALVENOOK_HANDLE_KIND(BitmapHandle)
TALVENOOK_HANDLE_KIND(IconHandle)
TALVENOOK_HANDLE_KIND(DeviceContextHandle)
#undef TALVENOOK_HANDLE_KIND

}  // namespace platform::posix
