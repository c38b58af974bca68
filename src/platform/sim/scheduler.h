// One virtual clock and the threads of the simulated process.
//
// Every simulated thread is a real std::thread, but only the thread holding the baton runs.
// A thread gives the baton up only inside a seam call that waits (Sleep, an empty message
// queue, a wait for a process); the scheduler then hands it to the thread that is due first
// and moves the clock to that thread's time. Ties go to the thread that started waiting
// first, so a run makes the same calls at the same virtual times every time.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace sim {

inline constexpr std::uint64_t kNever = std::numeric_limits<std::uint64_t>::max();
// No run of the program lasts an hour: the flash itself takes minutes.
inline constexpr std::uint64_t kVirtualRunLimitMs = 60ull * 60 * 1000;

// Thrown when the program waits for something that can never happen: a real run would hang.
struct Stalled : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Thrown by the run-time library's exit, on whichever thread called it: the process ends.
struct ProcessExit {
  int code;
};

// Thrown into a thread that is still waiting when its process ends, so that it unwinds.
struct ThreadTerminated {};

class Scheduler {
 public:
  using ThreadId = int;
  static constexpr ThreadId kMainThread = 0;

  explicit Scheduler(std::uint64_t startMs = 0);
  ~Scheduler();
  Scheduler(const Scheduler&) = delete;
  Scheduler& operator=(const Scheduler&) = delete;

  std::uint64_t Now() const { return now_; }
  // The simulated thread the caller is.
  ThreadId Current() const;

  // A new thread that first runs when the creating thread next waits, at the current time.
  ThreadId StartThread(std::function<void()> body);
  bool IsAlive(ThreadId thread) const;

  // The calling thread waits until the clock reads `until`.
  void WaitUntil(std::uint64_t until);
  // The calling thread waits until another thread wakes it or the clock reaches `deadline`
  // (kNever: only a wake-up ends the wait).
  void WaitForWake(std::uint64_t deadline);
  // Makes a waiting thread due now; the caller keeps the baton.
  void Wake(ThreadId thread);
  // The calling thread waits until `thread` has ended or the clock reaches `deadline`; true
  // when it has ended.
  bool WaitForThreadEnd(ThreadId thread, std::uint64_t deadline);

  // Ends the process from the calling thread: every other thread is unwound and joined.
  // Called on the main thread when the program returns, stalls or exits.
  void EndProcess();
  // Set when a thread other than the main one ended the process (exit) or stalled: the main
  // thread learns it at its next wait.
  void RequestProcessEnd(std::optional<int> exitCode, bool stalled);

 private:
  struct Thread {
    ThreadId id = 0;
    std::uint64_t wakeAt = 0;
    std::uint64_t order = 0;  // when it began to wait: the tie-breaker
    bool finished = false;
    bool terminate = false;
    std::vector<ThreadId> joiners;  // waiting for this thread's end
    std::thread native;
  };

  Thread& Self();
  void Switch(std::unique_lock<std::mutex>& lock);
  void GiveBatonTo(ThreadId next, std::unique_lock<std::mutex>& lock);
  void WaitForBaton(ThreadId self, std::unique_lock<std::mutex>& lock);
  void CheckForEnd(Thread& self);
  bool UnwindingAtEnd();
  void RunThread(ThreadId id, const std::function<void()>& body);

  mutable std::mutex mutex_;
  std::condition_variable batonMoved_;
  std::vector<std::unique_ptr<Thread>> threads_;
  ThreadId holder_ = kMainThread;
  std::uint64_t now_ = 0;
  std::uint64_t startMs_ = 0;
  std::uint64_t nextOrder_ = 0;
  bool ending_ = false;
  std::optional<int> exitCode_;
  bool stalled_ = false;
  std::optional<std::string> threadError_;
};

}  // namespace sim
