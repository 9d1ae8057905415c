// A move-only owner of one operating-system handle that the core sees only
// as an opaque pointer (a HANDLE or HDEVINFO on win32, an emulator's object
// on the simulated machine). `Release` is the backend's function for the
// kind, called exactly once for a held handle, on every path.
#pragma once

#include <cstdint>
#include <utility>

namespace hardware {

template <void (*Release)(void* native) noexcept>
class NativeOwner {
 public:
  NativeOwner() noexcept = default;
  explicit NativeOwner(void* native) noexcept : native_(native) {}
  ~NativeOwner() { reset(); }
  NativeOwner(NativeOwner&& other) noexcept : native_(std::exchange(other.native_, nullptr)) {}
  NativeOwner& operator=(NativeOwner&& other) noexcept {
    if (this != &other) {
      reset();
      native_ = std::exchange(other.native_, nullptr);
    }
    return *this;
  }
  NativeOwner(const NativeOwner&) = delete;
  NativeOwner& operator=(const NativeOwner&) = delete;

  // Null and INVALID_HANDLE_VALUE both mean nothing is held.
  bool valid() const noexcept {
    return native_ != nullptr && native_ != reinterpret_cast<void*>(intptr_t{-1});
  }
  void* native() const noexcept { return native_; }
  // Releases what is held, if anything.
  void reset() noexcept {
    if (valid()) Release(native_);
    native_ = nullptr;
  }

 private:
  void* native_ = nullptr;
};

}  // namespace hardware
