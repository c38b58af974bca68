// The lock over a CRITICAL_SECTION kept inside the object.
#include "platform/critical_section.h"

#include <new>

#include "platform/win32/windows_api.h"

namespace win {
namespace {

::CRITICAL_SECTION* Section(unsigned char* storage) {
  return std::launder(reinterpret_cast<::CRITICAL_SECTION*>(storage));
}

}  // namespace

static_assert(sizeof(::CRITICAL_SECTION) <= CCriticalSection::kStorageSize);

CCriticalSection::CCriticalSection() { ::InitializeCriticalSection(new (storage_) ::CRITICAL_SECTION); }
CCriticalSection::~CCriticalSection() { ::DeleteCriticalSection(Section(storage_)); }
void CCriticalSection::Lock() { ::EnterCriticalSection(Section(storage_)); }
void CCriticalSection::Unlock() { ::LeaveCriticalSection(Section(storage_)); }

}  // namespace win
