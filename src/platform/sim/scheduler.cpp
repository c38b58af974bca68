#include "platform/sim/scheduler.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

namespace sim {
namespace {

// A real run of a simulated program takes milliseconds; a thread that keeps the baton for
// this long is spinning, and the test cannot go on.
constexpr std::chrono::seconds kBatonWallClockLimit{20};

thread_local Scheduler::ThreadId tCurrentThread = Scheduler::kMainThread;

}  // namespace

Scheduler::Scheduler(std::uint64_t startMs) : now_(startMs), startMs_(startMs) {
  auto main = std::make_unique<Thread>();
  main->id = kMainThread;
  threads_.push_back(std::move(main));
  tCurrentThread = kMainThread;
}

Scheduler::~Scheduler() {
  for (auto& thread : threads_) {
    if (thread->native.joinable()) thread->native.detach();
  }
}

Scheduler::ThreadId Scheduler::Current() const { return tCurrentThread; }

Scheduler::Thread& Scheduler::Self() { return *threads_.at(static_cast<std::size_t>(Current())); }

bool Scheduler::IsAlive(ThreadId thread) const {
  std::lock_guard lock(mutex_);
  return thread >= 0 && static_cast<std::size_t>(thread) < threads_.size() &&
         !threads_[static_cast<std::size_t>(thread)]->finished;
}

Scheduler::ThreadId Scheduler::StartThread(std::function<void()> body) {
  std::unique_lock lock(mutex_);
  auto thread = std::make_unique<Thread>();
  const ThreadId id = static_cast<ThreadId>(threads_.size());
  thread->id = id;
  thread->wakeAt = now_;
  thread->order = nextOrder_++;
  Thread& added = *thread;
  threads_.push_back(std::move(thread));
  added.native = std::thread([this, id, body = std::move(body)] { RunThread(id, body); });
  return id;
}

void Scheduler::RunThread(ThreadId id, const std::function<void()>& body) {
  tCurrentThread = id;
  {
    std::unique_lock lock(mutex_);
    WaitForBaton(id, lock);
  }
  try {
    {
      std::unique_lock lock(mutex_);
      CheckForEnd(*threads_[static_cast<std::size_t>(id)]);
    }
    body();
  } catch (const ThreadTerminated&) {
  } catch (const ProcessExit& exit) {
    RequestProcessEnd(exit.code, false);
  } catch (const Stalled&) {
    RequestProcessEnd(std::nullopt, true);
  } catch (const std::exception& error) {
    // A test error on another thread (an unscripted question, say) fails the run on the
    // main thread, where the test sees it.
    {
      std::lock_guard lock(mutex_);
      threadError_ = "simulated thread " + std::to_string(id) + ": " + error.what();
    }
    RequestProcessEnd(std::nullopt, false);
  }
  std::unique_lock lock(mutex_);
  Thread& self = *threads_[static_cast<std::size_t>(id)];
  self.finished = true;
  for (const ThreadId joiner : self.joiners) {
    Thread& waiting = *threads_[static_cast<std::size_t>(joiner)];
    if (!waiting.finished && waiting.wakeAt > now_) {
      waiting.wakeAt = now_;
      waiting.order = nextOrder_++;
    }
  }
  self.joiners.clear();
  Switch(lock);
}

void Scheduler::RequestProcessEnd(std::optional<int> exitCode, bool stalled) {
  std::lock_guard lock(mutex_);
  if (exitCode) exitCode_ = exitCode;
  stalled_ = stalled_ || stalled;
  // The main thread must get the baton to end the process, whatever it waits for.
  threads_[kMainThread]->wakeAt = now_;
  threads_[kMainThread]->order = 0;
}

void Scheduler::WaitUntil(std::uint64_t until) {
  std::unique_lock lock(mutex_);
  if (UnwindingAtEnd()) return;
  Thread& self = Self();
  self.wakeAt = until < now_ ? now_ : until;
  self.order = nextOrder_++;
  Switch(lock);
  CheckForEnd(Self());
}

void Scheduler::WaitForWake(std::uint64_t deadline) {
  std::unique_lock lock(mutex_);
  if (UnwindingAtEnd()) return;
  Thread& self = Self();
  self.wakeAt = deadline == kNever ? kNever : (deadline < now_ ? now_ : deadline);
  self.order = nextOrder_++;
  Switch(lock);
  CheckForEnd(Self());
}

void Scheduler::Wake(ThreadId thread) {
  std::lock_guard lock(mutex_);
  Thread& target = *threads_.at(static_cast<std::size_t>(thread));
  if (target.finished || target.wakeAt <= now_) return;
  target.wakeAt = now_;
  target.order = nextOrder_++;
}

bool Scheduler::WaitForThreadEnd(ThreadId thread, std::uint64_t deadline) {
  for (;;) {
    {
      std::lock_guard lock(mutex_);
      Thread& target = *threads_.at(static_cast<std::size_t>(thread));
      if (target.finished) return true;
      if (deadline != kNever && now_ >= deadline) return false;
      target.joiners.push_back(Current());
    }
    WaitForWake(deadline);
  }
}

// Hands the baton to the thread due first (possibly the caller) and waits until it comes
// back to the caller. With nobody due, the process has stalled.
void Scheduler::Switch(std::unique_lock<std::mutex>& lock) {
  const ThreadId self = Current();
  if (ending_) {
    // While the process ends, every thread that gives the baton up gives it to the main one.
    GiveBatonTo(kMainThread, lock);
    if (!threads_[static_cast<std::size_t>(self)]->finished) WaitForBaton(self, lock);
    return;
  }
  const Thread* next = nullptr;
  for (const auto& thread : threads_) {
    if (thread->finished || thread->wakeAt == kNever) continue;
    if (next == nullptr || thread->wakeAt < next->wakeAt ||
        (thread->wakeAt == next->wakeAt && thread->order < next->order)) {
      next = thread.get();
    }
  }
  // A run that goes on for longer than any real one would (its window animating for ever with
  // nothing left to end it) has stalled as surely as one that waits for nothing.
  if (next != nullptr && next->wakeAt > startMs_ + kVirtualRunLimitMs) next = nullptr;
  if (next == nullptr) {
    // Nothing can ever run again. The main thread reports it; another thread hands the news
    // (and the baton) to the main thread.
    stalled_ = true;
    if (self == kMainThread) {
      threads_[kMainThread]->wakeAt = now_;
      return;
    }
    threads_[kMainThread]->wakeAt = now_;
    next = threads_[kMainThread].get();
  }
  if (next->wakeAt > now_) now_ = next->wakeAt;
  GiveBatonTo(next->id, lock);
  if (threads_[static_cast<std::size_t>(self)]->finished) return;
  WaitForBaton(self, lock);
}

void Scheduler::GiveBatonTo(ThreadId next, std::unique_lock<std::mutex>&) {
  holder_ = next;
  batonMoved_.notify_all();
}

void Scheduler::WaitForBaton(ThreadId self, std::unique_lock<std::mutex>& lock) {
  if (!batonMoved_.wait_for(lock, kBatonWallClockLimit, [&] { return holder_ == self; })) {
    std::fprintf(stderr, "simulated thread %d waited %llds of real time for the baton: a "
                 "thread of the simulated program is spinning\n", self,
                 static_cast<long long>(kBatonWallClockLimit.count()));
    std::abort();
  }
}

// After a wait: a thread whose process is ending unwinds; the main thread learns of an exit
// or a stall that another thread caused.
void Scheduler::CheckForEnd(Thread& self) {
  if (self.id != kMainThread) {
    if (self.terminate && std::uncaught_exceptions() == 0) throw ThreadTerminated{};
    return;
  }
  if (threadError_) {
    const std::string error = *threadError_;
    threadError_.reset();
    throw std::logic_error(error);
  }
  if (exitCode_) {
    const int code = *exitCode_;
    exitCode_.reset();
    throw ProcessExit{code};
  }
  if (stalled_) {
    stalled_ = false;
    throw Stalled("the program waits for something that can never happen");
  }
}

// A thread that waits while its process ends: it unwinds at once (or, when it is unwinding
// already, its wait simply returns).
bool Scheduler::UnwindingAtEnd() {
  if (!ending_ || Current() == kMainThread) return false;
  if (std::uncaught_exceptions() > 0) return true;
  throw ThreadTerminated{};
}

void Scheduler::EndProcess() {
  std::unique_lock lock(mutex_);
  if (ending_) return;
  ending_ = true;
  // Each thread still alive gets the baton once more, to unwind from its wait.
  for (std::size_t i = 1; i < threads_.size(); ++i) {
    Thread& thread = *threads_[i];
    if (thread.finished) continue;
    thread.terminate = true;
    GiveBatonTo(thread.id, lock);
    WaitForBaton(kMainThread, lock);
  }
  lock.unlock();
  for (std::size_t i = 1; i < threads_.size(); ++i) {
    if (threads_[i]->native.joinable()) threads_[i]->native.join();
  }
}

}  // namespace sim
