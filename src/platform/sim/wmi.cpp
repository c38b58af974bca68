// WMI, and the seam calls of the BIOS identity query.
#include "platform/sim/wmi.h"

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {

Wmi::Wmi() : biosVersions{u"47K31RA9"} {}

win::IUnknown Wmi::NewObject(ObjectKind kind, int index) {
  const auto* object = reinterpret_cast<win::IUnknown_*>(nextObject_);
  nextObject_ += sizeof(void*);
  objects_[object] = {kind, index};
  return const_cast<win::IUnknown>(object);
}

bool Wmi::IsA(const void* object, ObjectKind kind) const {
  const auto it = objects_.find(object);
  return it != objects_.end() && it->second.kind == kind;
}

int Wmi::IndexOf(const void* object) const {
  const auto it = objects_.find(object);
  return it == objects_.end() ? -1 : it->second.index;
}

void Wmi::Release(const void* object) {
  objects_.erase(object);
  positions_.erase(object);
}

const char16_t* Wmi::AllocateString(const std::u16string& text) {
  auto owned = std::make_unique<std::u16string>(text);
  const char16_t* data = owned->c_str();
  strings_[data] = std::move(owned);
  return data;
}

bool Wmi::FreeString(const char16_t* text) { return strings_.erase(text) != 0; }

}  // namespace sim

namespace win {
namespace {

using Kind = sim::Wmi::ObjectKind;

constexpr HRESULT kInvalidClass = static_cast<HRESULT>(0x80041010u);     // WBEM_E_INVALID_CLASS
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80041002u);         // WBEM_E_NOT_FOUND
constexpr HRESULT kInvalidNamespace = static_cast<HRESULT>(0x8004100Eu); // WBEM_E_INVALID_NAMESPACE
constexpr HRESULT kNoMoreObjects = 1;                                    // WBEM_S_FALSE
constexpr HRESULT kTimedOut = 0x40004;                                   // WBEM_S_TIMEDOUT
constexpr const char16_t* kBiosClass = u"Win32_BIOS";
constexpr const char16_t* kVersionProperty = u"SMBIOSBIOSVersion";
constexpr const char16_t* kRootNamespace = u"\\\\.\\root\\cimv2";

sim::Machine& M() { return sim::TheMachine(); }
sim::Wmi& Wmi() { return M().wmi; }

std::string Narrow(const char16_t* text) {
  std::string narrow;
  for (; text != nullptr && *text != 0; ++text) narrow += static_cast<char>(*text < 0x80 ? *text : '?');
  return narrow;
}

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return text;
}

HRESULT Failed(const sim::Failure& failure) {
  return failure.error != 0 ? static_cast<HRESULT>(failure.error) : E_FAIL;
}

}  // namespace

HRESULT CoCreateWbemLocator(IWbemLocator* locator) {
  M().Log("CoCreateInstance", {"WbemLocator"});
  *locator = nullptr;
  if (const auto failure = M().Consult("CoCreateInstance")) return Failed(*failure);
  *locator = static_cast<IWbemLocator>(Wmi().NewObject(Kind::Locator));
  return S_OK;
}

HRESULT ConnectServer(IWbemLocator locator, const char16_t* networkResource, IWbemServices* services) {
  M().Log("ConnectServer", {Narrow(networkResource)});
  *services = nullptr;
  if (const auto failure = M().Consult("ConnectServer")) return Failed(*failure);
  if (!Wmi().IsA(locator, Kind::Locator)) return E_FAIL;
  if (Upper(networkResource) != Upper(kRootNamespace)) return kInvalidNamespace;
  *services = static_cast<IWbemServices>(Wmi().NewObject(Kind::Services));
  return S_OK;
}

HRESULT CreateInstanceEnum(IWbemServices services, const char16_t* className, IEnumWbemClassObject* enumerator) {
  M().Log("CreateInstanceEnum", {Narrow(className)});
  *enumerator = nullptr;
  if (const auto failure = M().Consult("CreateInstanceEnum")) return Failed(*failure);
  if (!Wmi().IsA(services, Kind::Services)) return E_FAIL;
  if (Upper(className) != Upper(kBiosClass)) return kInvalidClass;
  *enumerator = static_cast<IEnumWbemClassObject>(Wmi().NewObject(Kind::Enumerator));
  return S_OK;
}

HRESULT EnumNext(IEnumWbemClassObject enumerator, LONG timeoutMs, ULONG count, IWbemClassObject* objects,
                 ULONG* returned) {
  M().Log("EnumNext", {timeoutMs, count});
  *returned = 0;
  if (const auto failure = M().Consult("EnumNext")) return Failed(*failure);
  if (!Wmi().IsA(enumerator, Kind::Enumerator)) return E_FAIL;
  if (Wmi().enumerationTimesOut) {
    M().scheduler().WaitUntil(M().Now() + static_cast<std::uint64_t>(timeoutMs));
    return kTimedOut;
  }
  int& position = Wmi().Position(enumerator);
  ULONG handed = 0;
  while (handed < count && position < static_cast<int>(Wmi().biosVersions.size())) {
    objects[handed++] = static_cast<IWbemClassObject>(Wmi().NewObject(Kind::Instance, position++));
  }
  *returned = handed;
  return handed == count ? S_OK : kNoMoreObjects;
}

HRESULT ObjectGet(IWbemClassObject object, const char16_t* name, VARIANT* value) {
  M().Log("ObjectGet", {Narrow(name)});
  if (const auto failure = M().Consult("ObjectGet")) return Failed(*failure);
  if (!Wmi().IsA(object, Kind::Instance)) return E_FAIL;
  if (Upper(name) != Upper(kVersionProperty)) return kNotFound;
  const auto& version = Wmi().biosVersions.at(static_cast<std::size_t>(Wmi().IndexOf(object)));
  if (!version) {
    value->vt = VT_NULL;
    value->bstrVal = nullptr;
    return S_OK;
  }
  value->vt = Wmi().versionType;
  value->bstrVal = Wmi().AllocateString(*version);
  return S_OK;
}

void VariantInit(VARIANT* value) { *value = VARIANT{}; }

HRESULT VariantClear(VARIANT* value) {
  if (value->bstrVal != nullptr) Wmi().FreeString(value->bstrVal);
  *value = VARIANT{};
  return S_OK;
}

ULONG ComRelease(IUnknown object) {
  M().Log("Release");
  Wmi().Release(object);
  return 0;
}

}  // namespace win
