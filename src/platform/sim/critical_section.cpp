// On the host the lock is a std::mutex; it is not part of the simulated machine, since only
// one simulated thread runs at a time and the race it guards against is tested apart.
#include "platform/critical_section.h"

#include <mutex>
#include <new>

namespace win {
namespace {

std::mutex& Mutex(unsigned char* storage) { return *std::launder(reinterpret_cast<std::mutex*>(storage)); }

}  // namespace

static_assert(sizeof(std::mutex) <= CCriticalSection::kStorageSize);

CCriticalSection::CCriticalSection() { new (storage_) std::mutex(); }
CCriticalSection::~CCriticalSection() { Mutex(storage_).~mutex(); }
void CCriticalSection::Lock() { Mutex(storage_).lock(); }
void CCriticalSection::Unlock() { Mutex(storage_).unlock(); }

}  // namespace win
