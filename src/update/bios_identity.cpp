#include "update/bios_identity.h"

#include <vector>

#include "platform/services.h"

namespace update {
namespace {

constexpr win::ULONG kOneInstance = 1;
constexpr int kWholeText = -1;  // the conversions run up to and including the terminator

// The namespace is held as narrow text and converted from the thread's code page.
std::u16string WideNamespace() {
  const int length = win::MultiByteToWideChar(win::CP_THREAD_ACP, 0, kWmiNamespace, kWholeText, nullptr, 0);
  if (length <= 0) return {};
  std::u16string wide(static_cast<std::size_t>(length), u'\0');
  win::MultiByteToWideChar(win::CP_THREAD_ACP, 0, kWmiNamespace, kWholeText, wide.data(), length);
  wide.resize(static_cast<std::size_t>(length - 1));
  return wide;
}

std::string Narrow(const char16_t* wide) {
  const int length = win::WideCharToMultiByte(win::CP_THREAD_ACP, 0, wide, kWholeText, nullptr, 0);
  if (length <= 1) return {};
  std::vector<char> narrow(static_cast<std::size_t>(length));
  if (win::WideCharToMultiByte(win::CP_THREAD_ACP, 0, wide, kWholeText, narrow.data(), length) != length) return {};
  return std::string(narrow.data());
}

// The value holder, cleared on every way out.
struct Variant {
  win::VARIANT value;
  Variant() { win::VariantInit(&value); }
  ~Variant() { win::VariantClear(&value); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
};

bool Connect(WmiConnection& connection) {
  win::ComPtr<win::IWbemLocator> locator;
  if (win::FAILED(win::CoCreateWbemLocator(locator.Put())) || !locator.Valid()) return false;
  const std::u16string path = WideNamespace();
  win::ConnectServer(locator.Get(), path.c_str(), connection.services.Put());
  return connection.services.Valid();  // the locator goes here, whatever the result
}

}  // namespace

std::string QueryBiosVersion(WmiConnection& connection) {
  if (!Connect(connection)) return {};
  win::ComPtr<win::IEnumWbemClassObject> instances;
  if (win::FAILED(win::CreateInstanceEnum(connection.services.Get(), kBiosClass, instances.Put())) ||
      !instances.Valid()) {
    return {};
  }
  win::ComPtr<win::IWbemClassObject> bios;
  win::ULONG returned = 0;
  const win::HRESULT next =
      win::EnumNext(instances.Get(), kEnumerationTimeoutMs, kOneInstance, bios.Put(), &returned);
  if (win::FAILED(next) || returned != kOneInstance || !bios.Valid()) return {};

  Variant value;
  if (win::FAILED(win::ObjectGet(bios.Get(), kBiosVersionProperty, &value.value))) return {};
  if (value.value.vt != win::VT_BSTR || value.value.bstrVal == nullptr) return {};
  std::string version = Narrow(value.value.bstrVal);
  if (!version.empty()) win::CharUpperBuffA(version.data(), static_cast<win::DWORD>(version.size()));
  return version;
}

}  // namespace update
