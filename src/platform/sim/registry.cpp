// The registry, and the seam calls that reach it.
#include "platform/sim/registry.h"

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {

void Registry::SetValue(const std::string& key, const std::string& name, RegistryValue value) {
  keys_[FileSystem::Normal(key)][FileSystem::Normal(name)] = std::move(value);
}

std::optional<RegistryValue> Registry::ValueOf(const std::string& key, const std::string& name) const {
  const auto k = keys_.find(FileSystem::Normal(key));
  if (k == keys_.end()) return std::nullopt;
  const auto v = k->second.find(FileSystem::Normal(name));
  if (v == k->second.end()) return std::nullopt;
  return v->second;
}

bool Registry::KeyExists(const std::string& key) const { return keys_.count(FileSystem::Normal(key)) != 0; }

void Registry::CreateKey(const std::string& key) { keys_[FileSystem::Normal(key)]; }

bool Registry::DeleteValue(const std::string& key, const std::string& name) {
  const auto k = keys_.find(FileSystem::Normal(key));
  return k != keys_.end() && k->second.erase(FileSystem::Normal(name)) != 0;
}

std::string Registry::RootName(win::HKEY key) {
  if (key == win::HKEY_LOCAL_MACHINE) return "HKLM";
  if (key == win::HKEY_USERS) return "HKU";
  return "?";
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }

// An open key is a handle whose target is the key's full path; the predefined roots stand
// for themselves.
std::string KeyPath(HKEY key, const char* subKey) {
  std::string base = M().HandleKind(key) == "key" ? M().HandleTarget(key) : sim::Registry::RootName(key);
  if (subKey != nullptr && *subKey != '\0') base += std::string("\\") + subKey;
  return base;
}

LSTATUS StatusOr(const sim::Failure& failure, DWORD usual) {
  return static_cast<LSTATUS>(failure.error != 0 ? failure.error : usual);
}

}  // namespace

LSTATUS SHDeleteValueA(HKEY key, const char* subKey, const char* valueName) {
  const std::string path = KeyPath(key, subKey);
  M().Log("SHDeleteValueA", {path, valueName});
  if (const auto failure = M().Consult("SHDeleteValueA")) return StatusOr(*failure, ERROR_ACCESS_DENIED);
  if (!M().registry.DeleteValue(path, valueName)) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
  return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD access, HKEY* result) {
  const std::string path = KeyPath(key, subKey);
  M().Log("RegOpenKeyExA", {path, options, access});
  if (const auto failure = M().Consult("RegOpenKeyExA")) return StatusOr(*failure, ERROR_ACCESS_DENIED);
  if (!M().registry.KeyExists(path)) return static_cast<LSTATUS>(ERROR_FILE_NOT_FOUND);
  *result = reinterpret_cast<HKEY>(M().NewHandle("key", path));
  return ERROR_SUCCESS;
}

LSTATUS RegCreateKeyA(HKEY key, const char* subKey, HKEY* result) {
  const std::string path = KeyPath(key, subKey);
  M().Log("RegCreateKeyA", {path});
  if (const auto failure = M().Consult("RegCreateKeyA")) return StatusOr(*failure, ERROR_ACCESS_DENIED);
  M().registry.CreateKey(path);
  *result = reinterpret_cast<HKEY>(M().NewHandle("key", path));
  return ERROR_SUCCESS;
}

LSTATUS RegSetValueExA(HKEY key, const char* valueName, DWORD, DWORD type, const BYTE* data, DWORD size) {
  M().Log("RegSetValueExA", {valueName, type, std::string(reinterpret_cast<const char*>(data), size), size});
  if (M().HandleKind(key) != "key") return static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
  if (const auto failure = M().Consult("RegSetValueExA")) return StatusOr(*failure, ERROR_ACCESS_DENIED);
  M().registry.SetValue(M().HandleTarget(key), valueName,
                        {type, std::string(reinterpret_cast<const char*>(data), size)});
  return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key) {
  M().Log("RegCloseKey");
  return M().CloseHandleOf(reinterpret_cast<HANDLE>(key)) ? ERROR_SUCCESS
                                                           : static_cast<LSTATUS>(ERROR_INVALID_PARAMETER);
}

}  // namespace win
