// The program's resources, and the seam calls that find and load them.
#include "platform/sim/resources.h"

#include <algorithm>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {

void Resources::Set(const std::string& type, int id, std::string bytes) {
  Remove(type, id);
  resources_.push_back({FileSystem::Normal(type), id, std::move(bytes)});
}

void Resources::Remove(const std::string& type, int id) {
  const std::string normal = FileSystem::Normal(type);
  std::erase_if(resources_, [&](const Resource& r) { return r.type == normal && r.id == id; });
}

const Resources::Resource* Resources::Find(const std::string& type, int id) const {
  const std::string normal = FileSystem::Normal(type);
  for (const Resource& r : resources_) {
    if (r.type == normal && r.id == id) return &r;
  }
  return nullptr;
}

const char* Resources::MapView(const Resource& resource, std::size_t size) {
  views_.push_back({resource.bytes.substr(0, size), true});
  return views_.back().bytes.data();
}

bool Resources::Unmap(const void* view) {
  for (View& v : views_) {
    if (v.bytes.data() == view && v.mapped) {
      v.mapped = false;
      return true;
    }
  }
  return false;
}

bool Resources::InView(const void* bytes) const {
  const auto* at = static_cast<const char*>(bytes);
  return std::any_of(views_.begin(), views_.end(), [&](const View& v) {
    return v.mapped && at >= v.bytes.data() && at < v.bytes.data() + v.bytes.size();
  });
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }
constexpr std::uintptr_t kIconHandle = 0x1280;
using Resource = sim::Resources::Resource;

}  // namespace

HRSRC FindResourceA(HMODULE, int id, const char* type) {
  M().Log("FindResourceA", {type, id});
  const Resource* resource = M().resources.Find(type, id);
  if (const auto failure = M().Consult("FindResourceA")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  if (resource == nullptr) return nullptr;
  return reinterpret_cast<HRSRC>(const_cast<Resource*>(resource));
}

HGLOBAL LoadResource(HMODULE, HRSRC resource) {
  M().Log("LoadResource");
  if (resource == nullptr || M().Consult("LoadResource")) return nullptr;
  return reinterpret_cast<HGLOBAL>(resource);
}

const void* LockResource(HGLOBAL loaded) {
  M().Log("LockResource");
  if (loaded == nullptr) return nullptr;
  return reinterpret_cast<const Resource*>(loaded)->bytes.data();
}

DWORD SizeofResource(HMODULE, HRSRC resource) {
  M().Log("SizeofResource");
  if (resource == nullptr) return 0;
  return static_cast<DWORD>(reinterpret_cast<const Resource*>(resource)->bytes.size());
}

BOOL FreeResource(HGLOBAL) {
  M().Log("FreeResource");
  return FALSE;  // as on Windows, where resources are not freed one by one
}

const void* MapOwnResource(HRSRC resource, DWORD size, void** view) {
  M().Log("MapOwnResource");
  *view = nullptr;
  if (resource == nullptr || M().Consult("MapOwnResource")) return nullptr;
  const char* bytes = M().resources.MapView(*reinterpret_cast<const Resource*>(resource), size);
  *view = const_cast<char*>(bytes);
  return bytes;
}

BOOL UnmapViewOfFile(void* view) {
  M().Log("UnmapViewOfFile");
  return M().resources.Unmap(view) ? TRUE : FALSE;
}

HICON LoadIconA(HINSTANCE, int id) {
  M().Log("LoadIconA", {id});
  return reinterpret_cast<HICON>(kIconHandle);
}

}  // namespace win
