// A lock for the one value that two threads of the program share. The win32 build keeps a
// CRITICAL_SECTION in it; the host build a std::mutex (the real lock either way, so a race test
// under ThreadSanitizer sees what the product does).
#pragma once

#include <cstddef>

namespace win {

class CCriticalSection {
 public:
  CCriticalSection();
  ~CCriticalSection();
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void Lock();
  void Unlock();

  static constexpr std::size_t kStorageSize = 64;

 private:
  alignas(16) unsigned char storage_[kStorageSize];
};

// Holds the lock for its scope.
class CSingleLock {
 public:
  explicit CSingleLock(CCriticalSection& section) : section_(section) { section_.Lock(); }
  ~CSingleLock() { section_.Unlock(); }
  CSingleLock(const CSingleLock&) = delete;
  CSingleLock& operator=(const CSingleLock&) = delete;

 private:
  CCriticalSection& section_;
};

}  // namespace win
