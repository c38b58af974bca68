// The simulated machine's clock, threads and message dispatch, on small programs of their own.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/framework.h"
#include "sequence.h"
#include "sim_fixture.h"

namespace {

using namespace testing_support;

constexpr win::UINT kTemplate = 102;
constexpr win::UINT_PTR kTickTimer = 7;
constexpr win::UINT kTickMs = 100;
constexpr win::UINT kDone = win::WM_USER + 1;
constexpr win::UINT kEcho = win::WM_USER + 2;
constexpr win::LRESULT kEchoAnswer = 4242;

// Sleeps 1, 2 and 3 seconds, saying so each time, then tells the window it is done.
class SleeperThread : public win::CWinThread {
 public:
  explicit SleeperThread(win::HWND target, bool exitAtEnd = false) : target_(target), exitAtEnd_(exitAtEnd) {}
  win::BOOL InitInstance() override {
    for (win::DWORD ms : {1000u, 2000u, 3000u}) {
      win::Sleep(ms);
      win::OutputDebugStringA("woke");
    }
    if (exitAtEnd_) win::CrtExit(3);
    win::PostMessageA(target_, kDone, 0, 0);
    return win::FALSE;
  }

 private:
  win::HWND target_;
  bool exitAtEnd_;
};

struct DialogScript {
  bool tick = true;
  bool startSleeper = true;
  bool sleeperExits = false;
  bool showBox = false;
};

class ScriptedDialog : public win::CDialog {
 public:
  explicit ScriptedDialog(DialogScript script) : CDialog(kTemplate), script_(script) {}
  int ticks = 0;
  win::LRESULT echoed = 0;

 protected:
  win::BOOL OnInitDialog() override {
    if (script_.tick) SetTimer(kTickTimer, kTickMs);
    if (script_.startSleeper) {
      auto* sleeper = new SleeperThread(m_hWnd, script_.sleeperExits);
      if (sleeper->CreateThread() == win::FALSE) delete sleeper;
    }
    echoed = SendMessageA(kEcho);
    if (script_.showBox) {
      win::MessageBoxA(m_hWnd, "while ticking", "box", win::MB_OK);
      PostMessageA(kDone);
    }
    return win::TRUE;
  }
  win::LRESULT WindowProc(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) override {
    if (message == win::WM_TIMER) ++ticks;
    if (message == kEcho) return kEchoAnswer;
    if (message == kDone) win::PostQuitMessage(0);
    return CDialog::WindowProc(message, wParam, lParam);
  }

 private:
  DialogScript script_;
};

class SchedulerTest : public SimTest {
 protected:
  static sim::ProcessResult Run(ScriptedDialog& dialog) {
    return sim::RunProcess([&] {
      dialog.DoModal();
      return 0;
    });
  }
  static std::vector<std::string> Transcript() {
    std::vector<std::string> lines;
    for (const sim::CallRecord& r : machine().Calls()) lines.push_back(Describe(r));
    return lines;
  }
};

TEST_F(SchedulerTest, TimerAndSleepingThreadInterleaveAtExactVirtualTimes) {
  ScriptedDialog dialog({});
  const sim::ProcessResult result = Run(dialog);
  EXPECT_FALSE(result.stalled);
  // The thread wakes at 1, 3 and 6 s; the tick due at 6 s loses to the thread, which began
  // waiting earlier, and then to the posted message and the quit request.
  EXPECT_TRUE(MatchesSequence(machine().Calls(),
                              {At(0, {"Sleep", {1000}}), At(1000, {"OutputDebugStringA", {"woke"}}),
                               At(1000, {"Sleep", {2000}}), At(3000, {"OutputDebugStringA", {"woke"}}),
                               At(3000, {"Sleep", {3000}}), At(6000, {"OutputDebugStringA", {"woke"}}),
                               At(6000, {"PostMessageA", {kDone}}), At(6000, {"PostQuitMessage", {0}})}));
  EXPECT_EQ(dialog.ticks, 59);
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.name == "Sleep") {
      EXPECT_EQ(r.thread, 1);
    }
    if (r.name == "Message" && r.args[0].Number() == win::WM_TIMER) {
      EXPECT_EQ(r.thread, 0);
      EXPECT_EQ(r.timeMs % kTickMs, 0u);
    }
  }
  EXPECT_EQ(result.endedAtMs, 6000u);
}

TEST_F(SchedulerTest, TwoHundredRunsMakeTheSameRecord) {
  std::vector<std::string> first;
  for (int run = 0; run < 200; ++run) {
    sim::ResetMachine();
    ScriptedDialog dialog({});
    Run(dialog);
    if (run == 0) {
      first = Transcript();
      ASSERT_GT(first.size(), 100u);
    } else {
      ASSERT_EQ(Transcript(), first) << "run " << run << " differs";
    }
  }
}

TEST_F(SchedulerTest, LoopWithNothingToWakeItReportsAStallAtOnce) {
  const auto started = std::chrono::steady_clock::now();
  ScriptedDialog dialog({.tick = false, .startSleeper = false});
  const sim::ProcessResult result = Run(dialog);
  EXPECT_TRUE(result.stalled);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
  ASSERT_EQ(machine().windows.WindowsCreated().size(), 1u);
  EXPECT_EQ(machine().windows.WindowsCreated()[0].timesDestroyed, 1);
}

TEST_F(SchedulerTest, ThreadWaitingForeverWhileTheLoopDoesTooIsAStall) {
  machine().processes.InstallCompanion("C:\\Tools\\Forever.exe");
  const sim::ProcessResult result = sim::RunProcess([] {
    struct Waiter : win::CWinThread {
      win::BOOL InitInstance() override {
        char line[] = "C:\\Tools\\Forever.exe";
        win::PROCESS_INFORMATION info;
        win::CreateProcessA(nullptr, line, nullptr, nullptr, win::FALSE, 0, nullptr, nullptr, &info);
        win::WaitForSingleObject(info.hProcess, win::INFINITE);
        return win::FALSE;
      }
    };
    auto* waiter = new Waiter;
    waiter->CreateThread();
    ScriptedDialog dialog({.tick = false, .startSleeper = false});
    dialog.DoModal();
    return 0;
  });
  EXPECT_TRUE(result.stalled);
}

TEST_F(SchedulerTest, SentMessagesReachWindowProcAndAnswer) {
  ScriptedDialog dialog({});
  Run(dialog);
  EXPECT_EQ(dialog.echoed, kEchoAnswer);
  EXPECT_TRUE(MatchesSequence(machine().Calls(), {{"SendMessageA", {kEcho}}}));
}

TEST_F(SchedulerTest, TimerTicksWhileAMessageBoxIsOpen) {
  machine().windows.ScriptAnswer(win::IDOK, 1000);
  ScriptedDialog dialog({.startSleeper = false, .showBox = true});
  Run(dialog);
  ASSERT_EQ(machine().windows.MessageBoxes().size(), 1u);
  EXPECT_EQ(machine().windows.MessageBoxes()[0].closedAtMs, 1000u);
  EXPECT_EQ(dialog.ticks, 10);  // 100 ms to 1000 ms, all inside the box's own loop
}

TEST_F(SchedulerTest, ExitOnAnotherThreadEndsTheProcessAndDestroysTheWindowOnce) {
  ScriptedDialog dialog({.sleeperExits = true});
  const sim::ProcessResult result = Run(dialog);
  EXPECT_TRUE(result.exitedThroughCrt);
  EXPECT_EQ(result.exitCode, 3);
  EXPECT_EQ(result.endedAtMs, 6000u);
  EXPECT_EQ(machine().windows.WindowsCreated()[0].timesDestroyed, 1);
}

TEST_F(SchedulerTest, ThreadThatNeverRanIsUnwoundWhenTheProcessEnds) {
  // Owned here: a thread that never ran cannot delete itself.
  SleeperThread sleeper(nullptr);
  sleeper.m_bAutoDelete = win::FALSE;
  const sim::ProcessResult result = sim::RunProcess([&] {
    sleeper.CreateThread();
    return 5;  // the process ends before the thread got its first turn
  });
  EXPECT_EQ(result.exitCode, 5);
  EXPECT_EQ(machine().CountCalls("Sleep"), 0);
}

TEST_F(SchedulerTest, WindowThatAnimatesForEverWithNothingToEndItIsAStall) {
  ScriptedDialog dialog({.startSleeper = false});
  const sim::ProcessResult result = Run(dialog);
  EXPECT_TRUE(result.stalled);
  EXPECT_EQ(result.endedAtMs, sim::kVirtualRunLimitMs - sim::kVirtualRunLimitMs % kTickMs);
}

// ----- failures -----

TEST_F(SchedulerTest, FailCallChoosesTheOccurrenceTheErrorAndHowManyInARow) {
  machine().FailCall("DeleteFileA", {.occurrence = 2, .error = win::ERROR_ACCESS_DENIED, .times = 2});
  for (int i = 0; i < 4; ++i) machine().files.AddFile("C:\\f" + std::to_string(i), "x");
  std::vector<win::DWORD> errors;
  for (int i = 0; i < 4; ++i) {
    const bool deleted = win::DeleteFileA(("C:\\f" + std::to_string(i)).c_str()) != win::FALSE;
    errors.push_back(deleted ? 0 : win::GetLastError());
  }
  EXPECT_EQ(errors, (std::vector<win::DWORD>{0, win::ERROR_ACCESS_DENIED, win::ERROR_ACCESS_DENIED, 0}));
  const auto& consulted = machine().FailableCalls();
  ASSERT_EQ(consulted.size(), 4u);
  EXPECT_EQ(consulted[3], (std::pair<std::string, int>{"DeleteFileA", 4}));
}

}  // namespace
