// Windows, message queues, timers, painting and message boxes of the simulated machine.
//
// Each thread has its own queue. A thread that asks for its next message gets, in this order:
// a posted message, the quit request, WM_PAINT for an invalidated window of its own, the
// earliest due timer of its windows; otherwise it waits on the scheduler until one of those
// can come. A message box is a nested loop of the same kind that ends when its scripted
// answer comes, so the thread's other windows keep their timers and paints meanwhile.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/framework.h"
#include "platform/sim/hooks.h"
#include "platform/win_types.h"

namespace sim {

struct Window {
  win::CWnd* owner = nullptr;
  int thread = 0;
  win::UINT templateId = 0;
  std::string title;
  win::DWORD style = 0;
  win::DWORD exStyle = 0;
  win::HICON bigIcon = nullptr;
  win::HICON smallIcon = nullptr;
  bool visible = false;
  bool topmost = false;
  bool minimized = false;
  win::RECT rect;
  bool invalid = false;
  bool eraseRequested = false;
  bool destroyed = false;
  int timesDestroyed = 0;
  int openBoxes = 0;  // message boxes it owns that are open: it is disabled meanwhile
};

struct DialogTemplate {
  win::DWORD style;
  win::DWORD exStyle;
};

struct MessageBoxRecord {
  win::HWND owner;
  std::string text;
  std::string caption;
  win::UINT flags;
  int answer;
  int thread;
  std::uint64_t openedAtMs;
  std::uint64_t closedAtMs;
};

// How the user answers the next message box, and after how long.
struct BoxAnswer {
  int answer;
  std::uint64_t afterMs = 0;
};

// A key or mouse event that reaches the machine at a virtual time.
struct InputEvent {
  std::uint64_t atMs;
  bool keyboard;
  win::UINT message;
};

// A message that something outside the program sends or posts to its first window at a
// virtual time (the system's end-of-session query, a power broadcast, a close request).
struct OutsideMessage {
  std::uint64_t atMs;
  win::UINT message;
  win::WPARAM wParam = 0;
  win::LPARAM lParam = 0;
  bool sent = true;
  // For WM_QUERYENDSESSION: when the window agrees, Windows then sends WM_ENDSESSION with this
  // wParam (FALSE: the end was called off by another program or by the user). None: nothing follows.
  std::optional<win::WPARAM> endSession = std::nullopt;
};

struct OutsideAnswer {
  OutsideMessage message;
  win::LRESULT result;
};

struct InputOutcome {
  InputEvent event;
  bool swallowed;  // a hook returned non-zero: no later hook and no window saw it
};

class Windows {
 public:
  Windows();

  // ----- for tests -----
  // Answers for the next message boxes, in order. Without one an OK box is answered IDOK at
  // once; any other box without a scripted answer is a test error.
  void ScriptAnswer(int answer, std::uint64_t afterMs = 0) { answers_.push_back({answer, afterMs}); }
  void SetScreenSize(int width, int height);
  void ScheduleInput(InputEvent event) { input_.push_back(event); }
  void ScheduleMessage(OutsideMessage message) { outside_.push_back(message); }
  const std::vector<OutsideAnswer>& OutsideAnswers() const { return outsideAnswers_; }
  // From `atMs` on, the thread that services low-level hooks answers nothing for `forMs`, as
  // on a page fault or a busy disk: it asks for no message, and Windows may take its hooks.
  void StallHookThread(std::uint64_t atMs, std::uint64_t forMs) { hookThreadStall_ = {atMs, forMs}; }
  const std::vector<MessageBoxRecord>& MessageBoxes() const { return boxes_; }
  // Every window the run created, also after it was destroyed.
  const std::vector<Window>& WindowsCreated() const;
  const std::vector<InputOutcome>& InputOutcomes() const { return inputOutcomes_; }
  int ScreenWidth() const { return screenWidth_; }
  int ScreenHeight() const { return screenHeight_; }
  int PaintsWithErase() const { return paintsWithErase_; }

  // ----- for the services and the framework -----
  std::map<win::UINT, DialogTemplate> dialogTemplates;
  win::HWND Create(win::UINT templateId, win::CWnd* owner);
  void Destroy(win::HWND window);
  Window* Find(win::HWND window);
  bool Post(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
  void PostQuit(int exitCode);
  // A message for a thread, not a window; false when the thread has ended.
  // Fails, as on Windows, for a thread that has not yet asked for a message: it has no queue.
  bool PostToThread(int thread, win::UINT message, win::WPARAM wParam, win::LPARAM lParam);
  // The calling thread's queue exists from now on.
  void MakeQueue();
  // The calling thread's next message; WM_QUIT for the quit request. With a deadline, nothing
  // when the deadline comes first (a message box's answer).
  std::optional<win::MSG> NextMessage(std::uint64_t deadline);
  // Hands a message to its window procedure and records it.
  win::LRESULT Deliver(const win::MSG& msg, bool sent);
  win::UINT_PTR SetTimer(win::HWND window, win::UINT_PTR id, win::UINT elapseMs);
  bool KillTimer(win::HWND window, win::UINT_PTR id);
  bool Invalidate(win::HWND window, bool erase);
  bool Validate(win::HWND window);
  int ShowMessageBox(win::HWND owner, const char* text, const char* caption, win::UINT flags);
  void EndProcess();

 private:
  struct Queue {
    std::deque<win::MSG> posted;
    bool quit = false;
    bool made = false;
  };
  // A timer of a thread rather than a window (SetTimer with no window) has a null window.
  struct Timer {
    int thread;
    win::HWND window;
    win::UINT_PTR id;
    win::UINT periodMs;
    std::uint64_t dueMs;
    std::uint64_t order;
  };

  std::optional<win::MSG> DueMessage(int thread);
  std::uint64_t NextWake(int thread) const;
  void RunDueInput(int thread);
  void WakeOwner(win::HWND window);

  std::map<std::uintptr_t, Window> windows_;
  std::map<std::uintptr_t, std::size_t> recordIndex_;
  mutable std::vector<Window> created_;
  std::uintptr_t nextWindow_ = 0x10000;
  std::map<int, Queue> queues_;
  std::vector<Timer> timers_;
  std::uint64_t nextTimerOrder_ = 0;
  std::deque<BoxAnswer> answers_;
  std::vector<MessageBoxRecord> boxes_;
  std::vector<InputEvent> input_;
  std::vector<InputOutcome> inputOutcomes_;
  std::vector<OutsideMessage> outside_;
  std::vector<OutsideAnswer> outsideAnswers_;
  void RunDueOutsideMessages(int thread);
  int TimerThread(const Timer& timer) const;
  bool ServicesHooks(int thread) const;
  void StallIfDue(int thread);
  struct Stall {
    std::uint64_t atMs;
    std::uint64_t forMs;
  };
  std::optional<Stall> hookThreadStall_;
  win::UINT_PTR nextThreadTimer_ = 0x7FF0;
  int screenWidth_;
  int screenHeight_;
  int paintsWithErase_ = 0;
};

}  // namespace sim

namespace sim {
// The framework's way into a window object's WindowProc (sim/framework.cpp).
win::LRESULT CallWindowProcOf(win::CWnd& window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam);
}  // namespace sim
