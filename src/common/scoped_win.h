// Scoped owners of Windows objects: each frees its object exactly once, on
// every way out of a scope, and can be moved but never copied (a copy would
// free the object twice).
#ifndef VEK_COMMON_SCOPED_WIN_H_
#define VEK_COMMON_SCOPED_WIN_H_

#include <windows.h>
// clang-format off
#include <objbase.h>
#include <setupapi.h>
#include <winternl.h>  // NTSTATUS, which hidpi.h uses without including
extern "C" {  // MinGW-w64 ships the hid.dll headers without it
#include <hidusage.h>
#include <hidpi.h>
#include <hidsdi.h>
}
// clang-format on

#include <type_traits>

namespace vek_native {

// Owns one value of Traits::Value and hands it to Traits::Free when it lets
// go. Null and INVALID_HANDLE_VALUE both mean "nothing owned": CreateFileW and
// SetupDiGetClassDevsW report failure with the second, most other calls with
// the first, and GetCurrentProcess' pseudo handle must never be closed.
template <typename Traits>
class ScopedWinObject {
 public:
  using Value = typename Traits::Value;

  ScopedWinObject() = default;
  explicit ScopedWinObject(Value value) : value_(value) {}
  ~ScopedWinObject() { Reset(); }
  ScopedWinObject(ScopedWinObject&& other) noexcept : value_(other.Release()) {}
  ScopedWinObject& operator=(ScopedWinObject&& other) noexcept {
    Reset(other.Release());
    return *this;
  }
  ScopedWinObject(const ScopedWinObject&) = delete;
  ScopedWinObject& operator=(const ScopedWinObject&) = delete;

  Value Get() const { return value_; }
  // Only where the owned value points at a class (a COM interface).
  template <typename V = Value,
            typename = std::enable_if_t<std::is_class_v<std::remove_pointer_t<V>>>>
  V operator->() const {
    return value_;
  }
  bool IsValid() const { return value_ != nullptr && value_ != INVALID_HANDLE_VALUE; }

  // Frees what is owned and owns `value` instead.
  void Reset(Value value = nullptr) {
    if (IsValid()) Traits::Free(value_);
    value_ = value;
  }
  // Gives up ownership without freeing.
  Value Release() {
    const Value value = value_;
    value_ = nullptr;
    return value;
  }
  // For a call that returns the object through an out parameter.
  Value* Receive() {
    Reset();
    return &value_;
  }

 private:
  Value value_ = nullptr;
};

struct HandleTraits {
  using Value = HANDLE;
  static void Free(HANDLE handle) { CloseHandle(handle); }
};
struct DeviceInfoListTraits {
  using Value = HDEVINFO;
  static void Free(HDEVINFO list) { SetupDiDestroyDeviceInfoList(list); }
};
struct PreparsedDataTraits {
  using Value = PHIDP_PREPARSED_DATA;
  static void Free(PHIDP_PREPARSED_DATA data) { HidD_FreePreparsedData(data); }
};
struct RegistryKeyTraits {
  using Value = HKEY;
  static void Free(HKEY key) { RegCloseKey(key); }
};
template <typename Interface>
struct ComTraits {
  using Value = Interface*;
  static void Free(Interface* object) { object->Release(); }
};
template <typename T>
struct LocalMemoryTraits {
  using Value = T*;
  static void Free(T* memory) { LocalFree(memory); }
};
template <typename T>
struct CoTaskMemoryTraits {
  using Value = T*;
  static void Free(T* memory) { CoTaskMemFree(memory); }
};

using ScopedHandle = ScopedWinObject<HandleTraits>;
using ScopedDeviceInfoList = ScopedWinObject<DeviceInfoListTraits>;
using ScopedPreparsedData = ScopedWinObject<PreparsedDataTraits>;
using ScopedRegistryKey = ScopedWinObject<RegistryKeyTraits>;
template <typename Interface>
using ScopedComPtr = ScopedWinObject<ComTraits<Interface>>;
template <typename T>
using ScopedLocalMemory = ScopedWinObject<LocalMemoryTraits<T>>;
template <typename T>
using ScopedCoTaskMemory = ScopedWinObject<CoTaskMemoryTraits<T>>;

static_assert(!std::is_copy_constructible_v<ScopedHandle>, "ScopedHandle");
static_assert(!std::is_copy_constructible_v<ScopedDeviceInfoList>, "ScopedDeviceInfoList");
static_assert(!std::is_copy_constructible_v<ScopedPreparsedData>, "ScopedPreparsedData");
static_assert(!std::is_copy_constructible_v<ScopedRegistryKey>, "ScopedRegistryKey");
static_assert(!std::is_copy_constructible_v<ScopedComPtr<IUnknown>>, "ScopedComPtr");
static_assert(!std::is_copy_constructible_v<ScopedLocalMemory<void>>, "ScopedLocalMemory");
static_assert(!std::is_copy_constructible_v<ScopedCoTaskMemory<void>>, "ScopedCoTaskMemory");

}  // namespace vek_native

#endif  // VEK_COMMON_SCOPED_WIN_H_
