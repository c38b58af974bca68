// The machine's management instrumentation, as far as the BIOS identity needs it: instances
// of Win32_BIOS with their SMBIOSBIOSVersion.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

class Wmi {
 public:
  Wmi();

  // ----- for tests -----
  // One entry per Win32_BIOS instance, in the order the enumeration returns them; an empty
  // optional is an instance whose version is null.
  std::vector<std::optional<std::u16string>> biosVersions;
  // The type the versions come as. For any other than VT_BSTR the value is still readable as a
  // string of the version's text, so that a reader who skips the type would show it.
  win::VARTYPE versionType = win::VT_BSTR;
  // The enumeration returns nothing within its time-out.
  bool enumerationTimesOut = false;
  // COM objects handed out and not released yet.
  int LiveObjects() const { return static_cast<int>(objects_.size()); }
  int StringsNotFreed() const { return static_cast<int>(strings_.size()); }

  // ----- for the services -----
  enum class ObjectKind { Locator, Services, Enumerator, Instance };
  win::IUnknown NewObject(ObjectKind kind, int index = 0);
  bool IsA(const void* object, ObjectKind kind) const;
  int IndexOf(const void* object) const;
  void Release(const void* object);
  int& Position(const void* enumerator) { return positions_[enumerator]; }
  const char16_t* AllocateString(const std::u16string& text);
  bool FreeString(const char16_t* text);

 private:
  struct Object {
    ObjectKind kind;
    int index;
  };
  std::map<const void*, Object> objects_;
  std::map<const void*, int> positions_;
  std::map<const char16_t*, std::unique_ptr<std::u16string>> strings_;
  std::uintptr_t nextObject_ = 0x7000;
};

}  // namespace sim
