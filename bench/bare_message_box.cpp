// bare_message_box.exe: the least a Windows program can do before it asks its user something.
//
// It shows one message box, with the buttons and icon of the updater's question, and ends.
// The benchmarks measure the updater against it: how long after the process starts the
// question is on screen, how much CPU a program idling at that question uses under Wine, and
// its peak memory.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

constexpr const char* kCaption = "Bare message box";
constexpr const char* kText = "A message box and nothing else.";
constexpr UINT kFlags = MB_YESNO | MB_ICONEXCLAMATION;
constexpr int kExitCode = 0;

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  MessageBoxA(nullptr, kText, kCaption, kFlags);
  return kExitCode;
}
