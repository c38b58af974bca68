// Drawing contexts and GDI objects of the simulated machine: what is made, selected, drawn and
// released, so a test can see every frame's text and check that a frame releases what it made.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/win_types.h"

namespace sim {

struct DrawnText {
  std::string text;
  win::RECT rect;
  win::UINT format;
  win::COLORREF color;
  int backgroundMode;
  std::uint64_t atMs;
};

struct Blit {
  int x, y, cx, cy, sourceX, sourceY;
  bool toWindow;       // the destination is a window's context, not a memory one
  std::string source;  // what is selected into the source context ("bitmap 132", ...)
  std::uint64_t atMs;
};

class Gdi {
 public:
  // ----- for tests -----
  const std::vector<DrawnText>& TextsDrawn() const { return texts_; }
  const std::vector<Blit>& Blits() const { return blits_; }
  // Contexts and objects made and not yet released, by kind ("memory dc", "bitmap", ...).
  int Live(const std::string& kind) const;
  int LiveTotal() const { return static_cast<int>(objects_.size()); }

  // ----- for the services -----
  struct Object {
    std::string kind;  // "window dc", "paint dc", "memory dc", "bitmap", "brush"
    std::string name{};  // "bitmap 134", ...
    std::uintptr_t selectedInto = 0;
    win::COLORREF textColor = 0;
    int backgroundMode = 2;  // OPAQUE
    std::map<std::string, std::uintptr_t> selected{};  // by object kind, in a context
  };
  std::uintptr_t Make(std::string kind, std::string name = {});
  Object* Find(std::uintptr_t handle);
  bool Release(std::uintptr_t handle);
  void RecordText(DrawnText text) { texts_.push_back(std::move(text)); }
  void RecordBlit(Blit blit) { blits_.push_back(std::move(blit)); }

 private:
  std::map<std::uintptr_t, Object> objects_;
  std::uintptr_t next_ = 0x9000;
  std::vector<DrawnText> texts_;
  std::vector<Blit> blits_;
};

}  // namespace sim
