// Windows, queues, timers, paints and message boxes, and the seam calls that reach them.
#include "platform/sim/windows.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "platform/services.h"
#include "platform/sim/charsets.h"
#include "platform/sim/machine.h"
#include "resource.h"

namespace sim {
namespace {

constexpr int kDefaultScreenWidth = 1024;
constexpr int kDefaultScreenHeight = 768;
constexpr win::UINT kButtonMask = 0xF;

Machine& M() { return TheMachine(); }

std::uintptr_t Key(win::HWND window) { return reinterpret_cast<std::uintptr_t>(window); }

// A user whose click and key went nowhere tries again after this long.
constexpr std::uint64_t kUserTriesAgainMs = 1000;

// Whether the user's click, or else the Enter key, gets past the low-level hooks to a box.
bool UserCanAnswer() {
  const InstalledHook* mouse = M().hooks.First(false);
  if (mouse == nullptr || !Hooks::Call(*mouse, win::WM_LBUTTONDOWN)) return true;
  const InstalledHook* keyboard = M().hooks.First(true);
  return keyboard == nullptr || !Hooks::Call(*keyboard, win::WM_KEYDOWN);
}

}  // namespace

Windows::Windows() : screenWidth_(kDefaultScreenWidth), screenHeight_(kDefaultScreenHeight) {
  dialogTemplates[IDD_BIOSUPDATE_DIALOG] = {IDD_BIOSUPDATE_DIALOG_STYLE, IDD_BIOSUPDATE_DIALOG_EXSTYLE};
}

void Windows::SetScreenSize(int width, int height) {
  screenWidth_ = width;
  screenHeight_ = height;
}

const std::vector<Window>& Windows::WindowsCreated() const {
  for (const auto& [key, window] : windows_) created_[recordIndex_.at(key)] = window;
  return created_;
}

win::HWND Windows::Create(win::UINT templateId, win::CWnd* owner) {
  const auto tmpl = dialogTemplates.find(templateId);
  if (tmpl == dialogTemplates.end()) return nullptr;
  const std::uintptr_t key = nextWindow_;
  nextWindow_ += sizeof(void*);
  Window window;
  window.owner = owner;
  window.thread = M().CurrentThread();
  window.templateId = templateId;
  window.style = tmpl->second.style;
  window.exStyle = tmpl->second.exStyle;
  windows_[key] = window;
  recordIndex_[key] = created_.size();
  created_.push_back(window);
  return reinterpret_cast<win::HWND>(key);
}

void Windows::Destroy(win::HWND handle) {
  const std::uintptr_t key = Key(handle);
  if (windows_.find(key) == windows_.end()) return;
  // The window hears of its end first, as with DestroyWindow.
  Deliver({handle, win::WM_DESTROY, 0, 0}, true);
  const auto it = windows_.find(key);
  if (it == windows_.end()) return;
  it->second.destroyed = true;
  it->second.timesDestroyed += 1;
  it->second.visible = false;
  created_[recordIndex_[key]] = it->second;
  windows_.erase(it);
  // A window's timers and the messages posted to it go with it.
  std::erase_if(timers_, [&](const Timer& t) { return t.window == handle; });
  for (auto& [thread, queue] : queues_) {
    std::erase_if(queue.posted, [&](const win::MSG& m) { return m.hwnd == handle; });
  }
}

Window* Windows::Find(win::HWND window) {
  const auto it = windows_.find(Key(window));
  return it == windows_.end() ? nullptr : &it->second;
}

void Windows::WakeOwner(win::HWND window) {
  if (const Window* w = Find(window); w != nullptr && w->thread != M().CurrentThread()) {
    M().scheduler().Wake(w->thread);
  }
}

bool Windows::Post(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  const Window* w = Find(window);
  if (w == nullptr) return false;
  queues_[w->thread].posted.push_back({window, message, wParam, lParam});
  WakeOwner(window);
  return true;
}

void Windows::PostQuit(int) { queues_[M().CurrentThread()].quit = true; }

void Windows::MakeQueue() { queues_[M().CurrentThread()].made = true; }

bool Windows::PostToThread(int thread, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
  if (!M().scheduler().IsAlive(thread) || !queues_[thread].made) return false;
  queues_[thread].posted.push_back({nullptr, message, wParam, lParam});
  if (thread != M().CurrentThread()) M().scheduler().Wake(thread);
  return true;
}

// With no window, a timer of the calling thread, with an id of the system's choosing (the one
// given names an existing timer of the thread to reset).
win::UINT_PTR Windows::SetTimer(win::HWND window, win::UINT_PTR id, win::UINT elapseMs) {
  const int thread = M().CurrentThread();
  if (window == nullptr) {
    const bool existing = std::any_of(timers_.begin(), timers_.end(), [&](const Timer& t) {
      return t.window == nullptr && t.id == id && t.thread == thread;
    });
    if (!existing) id = nextThreadTimer_++;
  } else if (Find(window) == nullptr) {
    return 0;
  }
  std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; });
  timers_.push_back({thread, window, id, elapseMs, M().Now() + elapseMs, nextTimerOrder_++});
  if (window != nullptr) WakeOwner(window);
  return id;
}

bool Windows::KillTimer(win::HWND window, win::UINT_PTR id) {
  return std::erase_if(timers_, [&](const Timer& t) { return t.window == window && t.id == id; }) != 0;
}

// The thread whose queue gets the timer's messages; -1 when its window is gone.
int Windows::TimerThread(const Timer& timer) const {
  if (timer.window == nullptr) return timer.thread;
  const auto w = windows_.find(Key(timer.window));
  return w != windows_.end() ? w->second.thread : -1;
}

bool Windows::ServicesHooks(int thread) const {
  const std::vector<InstalledHook>& hooks = M().hooks.Installed();
  return std::any_of(hooks.begin(), hooks.end(), [&](const InstalledHook& h) { return h.thread == thread; });
}

void Windows::StallIfDue(int thread) {
  if (!hookThreadStall_ || M().Now() < hookThreadStall_->atMs || !ServicesHooks(thread)) return;
  const std::uint64_t until = M().Now() + hookThreadStall_->forMs;
  hookThreadStall_.reset();
  M().Log("ThreadStalled", {until}, Kind::Event);
  while (M().Now() < until) M().scheduler().WaitUntil(until);
}

bool Windows::Invalidate(win::HWND window, bool erase) {
  Window* w = Find(window);
  if (w == nullptr) return false;
  w->invalid = true;
  w->eraseRequested = w->eraseRequested || erase;
  WakeOwner(window);
  return true;
}

bool Windows::Validate(win::HWND window) {
  Window* w = Find(window);
  if (w == nullptr) return false;
  w->invalid = false;
  w->eraseRequested = false;
  return true;
}

// Key and mouse events reach the low-level hooks first, each on the thread that installed it,
// when that thread next asks for a message; what they let through is queued for the main
// thread's first window, as the system would for the window with the focus. A hook whose
// thread has not asked within the time-out is removed, as Windows does.
void Windows::RunDueInput(int thread) {
  while (!input_.empty()) {
    const auto due = std::min_element(input_.begin(), input_.end(),
                                      [](const InputEvent& a, const InputEvent& b) { return a.atMs < b.atMs; });
    if (due->atMs > M().Now()) return;
    const InputEvent event = *due;
    const InstalledHook* hook = M().hooks.First(event.keyboard);
    if (hook != nullptr && M().Now() >= event.atMs + kLowLevelHooksTimeoutMs) {
      M().Log("HookTimedOut", {hook->kind}, Kind::Event);
      M().hooks.TimeOut(hook->handle);
      continue;
    }
    if (hook != nullptr && hook->thread != thread) return;  // its own thread may still take it
    input_.erase(due);
    const bool swallowed = hook != nullptr && Hooks::Call(*hook, event.message);
    inputOutcomes_.push_back({event, swallowed});
    M().Log("Input", {event.keyboard ? "keyboard" : "mouse", event.message, swallowed ? 1 : 0}, Kind::Event);
    if (swallowed) continue;
    for (const auto& [key, window] : windows_) {
      if (window.thread == Scheduler::kMainThread) {
        queues_[Scheduler::kMainThread].posted.push_back({reinterpret_cast<win::HWND>(key), event.message, 0, 0});
        WakeOwner(reinterpret_cast<win::HWND>(key));
        break;
      }
    }
  }
}

void Windows::RunDueOutsideMessages(int thread) {
  if (thread != Scheduler::kMainThread) return;
  while (!outside_.empty()) {
    const auto due = std::min_element(outside_.begin(), outside_.end(),
                                      [](const OutsideMessage& a, const OutsideMessage& b) { return a.atMs < b.atMs; });
    if (due->atMs > M().Now()) return;
    const OutsideMessage message = *due;
    outside_.erase(due);
    const auto first = std::find_if(windows_.begin(), windows_.end(),
                                    [&](const auto& w) { return w.second.thread == thread; });
    if (first == windows_.end()) continue;
    const auto window = reinterpret_cast<win::HWND>(first->first);
    if (message.sent) {
      const win::LRESULT answer = Deliver({window, message.message, message.wParam, message.lParam}, true);
      outsideAnswers_.push_back({message, answer});
      if (message.message == win::WM_QUERYENDSESSION && answer != win::FALSE && message.endSession) {
        Deliver({window, win::WM_ENDSESSION, *message.endSession, message.lParam}, true);
      }
    } else {
      queues_[thread].posted.push_back({window, message.message, message.wParam, message.lParam});
    }
  }
}

std::optional<win::MSG> Windows::DueMessage(int thread) {
  RunDueInput(thread);
  RunDueOutsideMessages(thread);
  Queue& queue = queues_[thread];
  if (!queue.posted.empty()) {
    const win::MSG msg = queue.posted.front();
    queue.posted.pop_front();
    return msg;
  }
  if (queue.quit) {
    queue.quit = false;
    return win::MSG{nullptr, win::WM_QUIT, 0, 0};
  }
  for (auto& [key, window] : windows_) {
    if (window.thread == thread && window.invalid) {
      return win::MSG{reinterpret_cast<win::HWND>(key), win::WM_PAINT, 0, 0};
    }
  }
  Timer* due = nullptr;
  for (Timer& timer : timers_) {
    if (TimerThread(timer) != thread || timer.dueMs > M().Now()) continue;
    if (due == nullptr || timer.dueMs < due->dueMs || (timer.dueMs == due->dueMs && timer.order < due->order)) {
      due = &timer;
    }
  }
  if (due != nullptr) {
    due->dueMs = M().Now() + due->periodMs;
    return win::MSG{due->window, win::WM_TIMER, due->id, 0};
  }
  return std::nullopt;
}

std::uint64_t Windows::NextWake(int thread) const {
  std::uint64_t next = kNever;
  for (const Timer& timer : timers_) {
    if (TimerThread(timer) == thread) next = std::min(next, timer.dueMs);
  }
  if (hookThreadStall_ && ServicesHooks(thread)) next = std::min(next, hookThreadStall_->atMs);
  // Input wakes the thread whose hook takes it first, or the main thread when no hook does; the
  // main thread also wakes when a hook's time-out ends, so that the event reaches its window.
  for (const InputEvent& event : input_) {
    const InstalledHook* hook = M().hooks.First(event.keyboard);
    const int taker = hook != nullptr ? hook->thread : Scheduler::kMainThread;
    if (taker == thread) next = std::min(next, event.atMs);
    if (hook != nullptr && thread == Scheduler::kMainThread) next = std::min(next, event.atMs + kLowLevelHooksTimeoutMs);
  }
  if (thread == Scheduler::kMainThread) {
    for (const OutsideMessage& message : outside_) next = std::min(next, message.atMs);
  }
  return next;
}

std::optional<win::MSG> Windows::NextMessage(std::uint64_t deadline) {
  const int thread = M().CurrentThread();
  queues_[thread].made = true;
  for (;;) {
    StallIfDue(thread);
    if (std::optional<win::MSG> msg = DueMessage(thread)) return msg;
    if (deadline != kNever && M().Now() >= deadline) return std::nullopt;
    M().scheduler().WaitForWake(std::min(NextWake(thread), deadline));
  }
}

win::LRESULT Windows::Deliver(const win::MSG& msg, bool sent) {
  M().Log("Message", {msg.message, msg.wParam, msg.lParam}, sent ? Kind::Sent : Kind::Posted);
  Window* window = Find(msg.hwnd);
  if (window == nullptr) return 0;
  if (msg.message == win::WM_PAINT && window->eraseRequested) ++paintsWithErase_;
  if (window->owner == nullptr) return 0;
  return CallWindowProcOf(*window->owner, msg.message, msg.wParam, msg.lParam);
}

int Windows::ShowMessageBox(win::HWND owner, const char* text, const char* caption, win::UINT flags) {
  BoxAnswer answer{win::IDOK, 0};
  if (!answers_.empty()) {
    answer = answers_.front();
    answers_.pop_front();
  } else if ((flags & kButtonMask) != win::MB_OK) {
    throw std::logic_error(std::string("no scripted answer for the question: ") + text);
  }
  const std::uint64_t opened = M().Now();
  const std::size_t index = boxes_.size();
  boxes_.push_back({owner, text, caption, flags, answer.answer, M().CurrentThread(), opened, opened});
  // The box's own loop: the thread's windows go on getting their messages until the user
  // answers. The quit request ends the box early and is left for the outer loop. The answer is
  // a click or a key: while the program's own input lock swallows both, the user tries again
  // and again, and the box stays open.
  // The box disables its owner while it is open.
  if (Window* w = Find(owner)) ++w->openBoxes;
  std::uint64_t answerAt = opened + answer.afterMs;
  for (bool quit = false; !quit;) {
    while (std::optional<win::MSG> msg = NextMessage(answerAt)) {
      if (msg->message == win::WM_QUIT) {
        PostQuit(0);
        quit = true;
        break;
      }
      Deliver(*msg, false);
    }
    if (quit || UserCanAnswer()) break;
    answerAt = M().Now() + kUserTriesAgainMs;
  }
  if (Window* w = Find(owner)) --w->openBoxes;
  boxes_[index].closedAtMs = M().Now();
  M().Log("MessageBoxClosed", {answer.answer}, Kind::Event);
  return answer.answer;
}

void Windows::EndProcess() {
  for (const auto& [key, window] : windows_) created_[recordIndex_[key]] = window;
  windows_.clear();
  timers_.clear();
  queues_.clear();
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }
sim::Windows& W() { return M().windows; }

DWORD ErrorOr(const sim::Failure& failure, DWORD usual) {
  return failure.error != 0 ? failure.error : usual;
}

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT flags) {
  M().Log("MessageBoxA", {caption, flags, text});
  if (const auto failure = M().Consult("MessageBoxA")) {
    M().SetLastError(ErrorOr(*failure, ERROR_NOT_ENOUGH_MEMORY));
    return 0;
  }
  return W().ShowMessageBox(owner, text, caption, flags);
}

LRESULT SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  M().Log("SendMessageA", {message, wParam});
  if (W().Find(window) == nullptr) return 0;
  return W().Deliver({window, message, wParam, lParam}, true);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  M().Log("PostMessageA", {message, wParam});
  if (const auto failure = M().Consult("PostMessageA")) {
    M().SetLastError(ErrorOr(*failure, ERROR_NOT_ENOUGH_QUOTA));
    return FALSE;
  }
  if (!W().Post(window, message, wParam, lParam)) {
    M().SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

void PostQuitMessage(int exitCode) {
  M().Log("PostQuitMessage", {exitCode});
  W().PostQuit(exitCode);
}

BOOL PostThreadMessageA(DWORD threadId, UINT message, WPARAM wParam, LPARAM lParam) {
  M().Log("PostThreadMessageA", {message, wParam});
  if (const auto failure = M().Consult("PostThreadMessageA")) {
    M().SetLastError(ErrorOr(*failure, ERROR_NOT_ENOUGH_QUOTA));
    return FALSE;
  }
  const auto thread = M().threadOfId.find(threadId);
  if (thread == M().threadOfId.end() || !W().PostToThread(thread->second, message, wParam, lParam)) {
    M().SetLastError(ERROR_INVALID_THREAD_ID);
    return FALSE;
  }
  return TRUE;
}

void EnsureMessageQueue() {
  M().Log("PeekMessageA");
  W().MakeQueue();
}

BOOL SetWindowTextA(HWND window, const char* text) {
  M().Log("SetWindowTextA", {text});
  sim::Window* w = W().Find(window);
  if (w == nullptr) return FALSE;
  w->title = text;
  return TRUE;
}

LONG GetWindowLongA(HWND window, int index) {
  sim::Window* w = W().Find(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  return static_cast<LONG>(w->exStyle);
}

LONG SetWindowLongA(HWND window, int index, LONG value) {
  M().Log("SetWindowLongA", {index, value});
  sim::Window* w = W().Find(window);
  if (w == nullptr || index != GWL_EXSTYLE) return 0;
  const LONG previous = static_cast<LONG>(w->exStyle);
  w->exStyle = static_cast<DWORD>(value);
  return previous;
}

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, void*) {
  M().Log("SetTimer", {id, elapseMs});
  if (const auto failure = M().Consult("SetTimer")) {
    M().SetLastError(ErrorOr(*failure, ERROR_NOT_ENOUGH_QUOTA));
    return 0;
  }
  const UINT_PTR set = W().SetTimer(window, id, elapseMs);
  if (set == 0) M().SetLastError(ERROR_INVALID_WINDOW_HANDLE);
  return set;
}

BOOL KillTimer(HWND window, UINT_PTR id) {
  M().Log("KillTimer", {id});
  return W().KillTimer(window, id) ? TRUE : FALSE;
}

BOOL InvalidateRect(HWND window, const RECT*, BOOL erase) {
  M().Log("InvalidateRect", {erase});
  return W().Invalidate(window, erase != FALSE) ? TRUE : FALSE;
}

BOOL ValidateRect(HWND window, const RECT*) {
  M().Log("ValidateRect");
  return W().Validate(window) ? TRUE : FALSE;
}

int GetSystemMetrics(int index) {
  constexpr int kIconSize = 32;
  if (index == SM_CXSCREEN) return W().ScreenWidth();
  if (index == SM_CYSCREEN) return W().ScreenHeight();
  if (index == SM_CXICON || index == SM_CYICON) return kIconSize;
  return 0;
}

BOOL IsWindowEnabled(HWND window) {
  const sim::Window* w = W().Find(window);
  return w != nullptr && w->openBoxes == 0 ? TRUE : FALSE;
}

namespace {

// Only the thread that made a window may give or take back its reason; Windows refuses the
// call on any other thread.
BOOL OnWindowsOwnThread(HWND window, const char* api) {
  const sim::Window* w = W().Find(window);
  if (w == nullptr) {
    M().SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (w->thread != M().CurrentThread()) {
    M().SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (const auto failure = M().Consult(api)) {
    M().SetLastError(ErrorOr(*failure, ERROR_NOT_ENOUGH_MEMORY));
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL ShutdownBlockReasonCreate(HWND window, const char16_t* reason) {
  M().Log("ShutdownBlockReasonCreate", {reason != nullptr ? sim::Utf8(reason) : std::string("(null)")});
  return OnWindowsOwnThread(window, "ShutdownBlockReasonCreate");
}

BOOL ShutdownBlockReasonDestroy(HWND window) {
  M().Log("ShutdownBlockReasonDestroy");
  return OnWindowsOwnThread(window, "ShutdownBlockReasonDestroy");
}

void DisableProcessWindowsGhosting() { M().Log("DisableProcessWindowsGhosting"); }

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
  M().Log("SetWindowPos", {sim::HandleArg(insertAfter), x, y, cx, cy, flags});
  sim::Window* w = W().Find(window);
  if (w == nullptr) return FALSE;
  if (const auto failure = M().Consult("SetWindowPos")) {
    M().SetLastError(ErrorOr(*failure, ERROR_ACCESS_DENIED));
    return FALSE;
  }
  w->rect = RECT{x, y, x + cx, y + cy};
  if (insertAfter == HWND_TOPMOST) w->topmost = true;
  if ((flags & SWP_SHOWWINDOW) != 0) w->visible = true;
  return TRUE;
}

}  // namespace win
