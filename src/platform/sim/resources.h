// The program's own resources, as the simulated machine finds them in its executable.
#pragma once

#include <list>
#include <string>
#include <vector>

namespace sim {

class Resources {
 public:
  struct Resource {
    std::string type;
    int id;
    std::string bytes;
  };

  void Set(const std::string& type, int id, std::string bytes);
  void Remove(const std::string& type, int id);
  const Resource* Find(const std::string& type, int id) const;

  // A view of the program file holding a resource: the same bytes at addresses of their own,
  // until it is unmapped.
  const char* MapView(const Resource& resource, std::size_t size);
  bool Unmap(const void* view);
  // Whether the bytes lie in a view that is still mapped.
  bool InView(const void* bytes) const;

 private:
  struct View {
    std::string bytes;
    bool mapped;
  };
  std::vector<Resource> resources_;
  std::list<View> views_;
};

}  // namespace sim
