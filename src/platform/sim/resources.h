// The program's own resources, as the simulated machine finds them in its executable.
#pragma once

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

 private:
  std::vector<Resource> resources_;
};

}  // namespace sim
