// Low-level hooks, and the seam calls that install, call and remove them.
#include "platform/sim/hooks.h"

#include <algorithm>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {
namespace {

constexpr int kHookAction = 0;  // HC_ACTION

}  // namespace

int Hooks::InstalledCount(int kind) const {
  return static_cast<int>(std::count_if(installed_.begin(), installed_.end(),
                                        [&](const InstalledHook& h) { return h.kind == kind; }));
}

win::HHOOK Hooks::Install(int kind, win::HOOKPROC procedure, win::HINSTANCE module, win::DWORD threadId) {
  const auto handle = reinterpret_cast<win::HHOOK>(nextHandle_);
  nextHandle_ += sizeof(void*);
  installed_.push_back({handle, kind, procedure, module, threadId, TheMachine().CurrentThread()});
  lives_.push_back({handle, kind, TheMachine().Now(), kNever});
  ++everInstalled;
  return handle;
}

void Hooks::Ended(win::HHOOK hook) {
  for (Life& life : lives_) {
    if (life.handle == hook && life.toMs == kNever) life.toMs = TheMachine().Now();
  }
}

bool Hooks::Remove(win::HHOOK hook) {
  Ended(hook);
  return std::erase_if(installed_, [&](const InstalledHook& h) { return h.handle == hook; }) != 0;
}

void Hooks::EndProcess() {
  leftAtProcessEnd = static_cast<int>(installed_.size());
  for (const InstalledHook& hook : installed_) Ended(hook.handle);
  installed_.clear();
}

const InstalledHook* Hooks::First(bool keyboard) const {
  const int kind = keyboard ? win::WH_KEYBOARD_LL : win::WH_MOUSE_LL;
  for (auto it = installed_.rbegin(); it != installed_.rend(); ++it) {
    if (it->kind == kind) return &*it;
  }
  return nullptr;
}

// The first hook of the chain decides; it passes on through CallNextHookEx.
bool Hooks::Call(const InstalledHook& hook, win::UINT message) { return hook.procedure(kHookAction, message, 0) != 0; }

void Hooks::TimeOut(win::HHOOK hook) {
  ++timedOut;
  Remove(hook);
}

win::LRESULT Hooks::CallNext(win::HHOOK hook, int code, win::WPARAM wParam, win::LPARAM lParam) {
  auto at = std::find_if(installed_.rbegin(), installed_.rend(),
                         [&](const InstalledHook& h) { return h.handle == hook; });
  if (at == installed_.rend()) return 0;
  const int kind = at->kind;
  for (++at; at != installed_.rend(); ++at) {
    if (at->kind == kind) return at->procedure(code, wParam, lParam);
  }
  return 0;
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }

}  // namespace

HHOOK SetWindowsHookExA(int idHook, HOOKPROC procedure, HINSTANCE module, DWORD threadId) {
  M().Log("SetWindowsHookExA", {idHook, sim::HandleArg(module), threadId});
  if (const auto failure = M().Consult("SetWindowsHookExA")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_ACCESS_DENIED);
    return nullptr;
  }
  return M().hooks.Install(idHook, procedure, module, threadId);
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
  M().Log("UnhookWindowsHookEx");
  if (const auto failure = M().Consult("UnhookWindowsHookEx")) {
    M().SetLastError(failure->error != 0 ? failure->error : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return M().hooks.Remove(hook) ? TRUE : FALSE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
  // Not recorded: it runs for every key and mouse event, and allocating here is what the
  // hook procedures must not cause either.
  return M().hooks.CallNext(hook, code, wParam, lParam);
}

}  // namespace win
