// The registry of the simulated machine: keys by full path ("HKLM\..." or "HKU\..."),
// values by name, both case-insensitive.
#pragma once

#include <map>
#include <optional>
#include <string>

#include "platform/win_types.h"

namespace sim {

struct RegistryValue {
  win::DWORD type;
  std::string data;  // the bytes as stored
  bool operator==(const RegistryValue&) const = default;
};

class Registry {
 public:
  // ----- for tests -----
  void SetValue(const std::string& key, const std::string& name, RegistryValue value);
  std::optional<RegistryValue> ValueOf(const std::string& key, const std::string& name) const;
  bool KeyExists(const std::string& key) const;
  void Clear() { keys_.clear(); }

  // ----- for the services -----
  static std::string RootName(win::HKEY key);
  void CreateKey(const std::string& key);
  bool DeleteValue(const std::string& key, const std::string& name);

 private:
  std::map<std::string, std::map<std::string, RegistryValue>> keys_;
};

}  // namespace sim
