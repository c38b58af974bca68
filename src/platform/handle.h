// One owner for every system handle: closed by its destructor, never copied.
#pragma once

#include <utility>

#include "platform/services.h"

namespace win {

// Traits name the handle type, its "no handle" value and how it is closed.
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle handle) : handle_(handle) {}
  ~UniqueHandle() { Close(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.Release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = other.Release();
    }
    return *this;
  }

  [[nodiscard]] bool Valid() const { return !Traits::IsNone(handle_); }
  [[nodiscard]] Handle Get() const { return handle_; }
  Handle Release() { return std::exchange(handle_, Traits::None()); }
  // For calls that hand a new handle out through a pointer: the old one is closed first.
  Handle* Put() {
    Close();
    return &handle_;
  }

  // Closes now and reports whether the system accepted the close; a file whose close fails
  // may not hold everything that was written to it.
  bool Close() {
    if (!Valid()) return true;
    return Traits::Close(std::exchange(handle_, Traits::None()));
  }

 private:
  Handle handle_ = Traits::None();
};

// Kernel objects that report failure as a null handle (mutexes, processes, threads).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};

// Files report failure as INVALID_HANDLE_VALUE.
struct FileHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return InvalidHandle(); }
  static bool IsNone(Handle h) { return h == InvalidHandle(); }
  static bool Close(Handle h) { return CloseHandle(h) != FALSE; }
};

// A loaded resource is released with FreeResource.
struct ResourceTraits {
  using Handle = HGLOBAL;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) {
    FreeResource(h);
    return true;
  }
};

// An open registry key.
struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};

// A search of FindFirstFileA.
struct FindHandleTraits {
  using Handle = HANDLE;
  static Handle None() { return InvalidHandle(); }
  static bool IsNone(Handle h) { return h == InvalidHandle(); }
  static bool Close(Handle h) { return FindClose(h) != FALSE; }
};

// A COM object of the seam, released once.
template <typename Pointer>
struct ComTraits {
  using Handle = Pointer;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) {
    ComRelease(h);
    return true;
  }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueRegistryKey = UniqueHandle<RegistryKeyTraits>;
using UniqueFind = UniqueHandle<FindHandleTraits>;
template <typename Pointer>
using ComPtr = UniqueHandle<ComTraits<Pointer>>;
using UniqueFile = UniqueHandle<FileHandleTraits>;
using UniqueResource = UniqueHandle<ResourceTraits>;

}  // namespace win
