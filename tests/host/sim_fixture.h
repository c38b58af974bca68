// Shared set-up for tests that run the program on the simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/sim/machine.h"

namespace testing_support {

inline constexpr const char* kProgramFiles = "C:\\Program Files (x86)";
inline constexpr const char* kWorkingFolder = "C:\\Program Files (x86)\\BIOSUPDATE";
inline constexpr const char* kFlashToolPath = "C:\\Program Files (x86)\\BIOSUPDATE\\WinFlash64.exe";
inline constexpr const char* kCapsulePath = "C:\\Program Files (x86)\\BIOSUPDATE\\47K31RB4.cap";
inline constexpr const char* kRunKey = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr const char* kFlashToolBytes = "MZ stand-in flash tool";
inline constexpr const char* kCapsuleBytes = "capsule bytes";
inline constexpr int kFlashToolId = 172;
inline constexpr int kCapsuleId = 177;

class SimTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::ResetMachine();
    machine().resources.Set("FILE", kFlashToolId, kFlashToolBytes);
    machine().resources.Set("FILE", kCapsuleId, kCapsuleBytes);
  }
  static sim::Machine& machine() { return sim::TheMachine(); }

  // A working folder as an interrupted earlier run leaves it.
  static void LeaveEarlierRun() {
    machine().files.AddFolder(kWorkingFolder);
    machine().files.AddFile(kFlashToolPath, "old tool");
    machine().files.AddFile(kCapsulePath, "old capsule");
  }
  static void SetKorean() { machine().SetKorean(); }
};

}  // namespace testing_support
