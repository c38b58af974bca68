// WMI over COM. The seam's interface types are the system's interface pointers under another
// name; strings cross as UTF-16, which char16_t and wchar_t both are on Windows.
#include "platform/win32/windows_api.h"

#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

using win32::As;

namespace win {

namespace {

const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }

}  // namespace

HRESULT CoCreateWbemLocator(IWbemLocator* locator) {
  ::IWbemLocator* created = nullptr;
  const HRESULT result = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                            IID_IWbemLocator, reinterpret_cast<void**>(&created));
  *locator = As<IWbemLocator>(created);
  return result;
}

// WMI takes its strings as BSTRs; each lives only for the one call.
HRESULT ConnectServer(IWbemLocator locator, const char16_t* networkResource,
                      IWbemServices* services) {
  const BSTR path = ::SysAllocString(Wide(networkResource));
  if (path == nullptr && networkResource != nullptr) return E_OUTOFMEMORY;
  ::IWbemServices* connected = nullptr;
  const HRESULT result = As<::IWbemLocator*>(locator)->ConnectServer(
      path, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &connected);
  ::SysFreeString(path);
  *services = As<IWbemServices>(connected);
  return result;
}

HRESULT CreateInstanceEnum(IWbemServices services, const char16_t* className,
                           IEnumWbemClassObject* enumerator) {
  const BSTR name = ::SysAllocString(Wide(className));
  if (name == nullptr && className != nullptr) return E_OUTOFMEMORY;
  ::IEnumWbemClassObject* created = nullptr;
  const HRESULT result =
      As<::IWbemServices*>(services)->CreateInstanceEnum(name, 0, nullptr, &created);
  ::SysFreeString(name);
  *enumerator = As<IEnumWbemClassObject>(created);
  return result;
}

HRESULT EnumNext(IEnumWbemClassObject enumerator, LONG timeoutMs, ULONG count,
                 IWbemClassObject* objects, ULONG* returned) {
  ::ULONG got = 0;
  const HRESULT result = As<::IEnumWbemClassObject*>(enumerator)->Next(
      timeoutMs, count, reinterpret_cast<::IWbemClassObject**>(objects), &got);
  *returned = got;
  return result;
}

// The seam's variant carries the type and, for a string, the string itself, whose ownership
// moves to it; anything else the value held is released here.
HRESULT ObjectGet(IWbemClassObject object, const char16_t* name, VARIANT* value) {
  ::VARIANT got;
  ::VariantInit(&got);
  const HRESULT result =
      As<::IWbemClassObject*>(object)->Get(Wide(name), 0, &got, nullptr, nullptr);
  value->vt = got.vt;
  if (got.vt == VT_BSTR) {
    value->bstrVal = reinterpret_cast<const char16_t*>(got.bstrVal);
  } else {
    value->bstrVal = nullptr;
    ::VariantClear(&got);
  }
  return result;
}

void VariantInit(VARIANT* value) {
  value->vt = VT_EMPTY;
  value->bstrVal = nullptr;
}

HRESULT VariantClear(VARIANT* value) {
  if (value->vt == VT_BSTR) ::SysFreeString(const_cast<wchar_t*>(Wide(value->bstrVal)));
  VariantInit(value);
  return S_OK;
}

ULONG ComRelease(IUnknown object) { return As<::IUnknown*>(object)->Release(); }

}  // namespace win
