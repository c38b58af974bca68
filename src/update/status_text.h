// The status text: replaced by the update worker, copied by the painting on the UI thread. The
// hand-over is atomic: a reader gets the old or the new text, never a torn or released one.
#pragma once

#include <string>

#include "platform/critical_section.h"

namespace update {

class StatusText {
 public:
  void Set(std::string text) {
    win::CSingleLock lock(section_);
    text_.swap(text);
  }  // the old text is freed after the lock is let go: readers only ever hold copies
  std::string Get() const {
    win::CSingleLock lock(section_);
    return text_;
  }

 private:
  mutable win::CCriticalSection section_;
  std::string text_;
};

}  // namespace update
