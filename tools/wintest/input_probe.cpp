// input_probe: sends and watches keyboard and mouse input under Wine, for the end-to-end
// check of the updater's input lock.
//
//   input_probe watch SECONDS OUT_FILE
//       Installs its own low-level keyboard and mouse hooks and writes one line per event
//       they are called for to OUT_FILE, as it goes: "ready" once the hooks are in, then
//       "EVENT MESSAGE ORIGIN", e.g. "key-down:0D WM_KEYDOWN probe". ORIGIN is "probe" for
//       input that `inject` sent, "other" for anything else; a key event is "key-down:VK" or
//       "key-up:VK" by its up flag, whatever message it comes as. Ends after SECONDS, or
//       earlier when its window (class InputProbeWatch, caption "input probe") gets WM_CLOSE.
//       Low-level hooks are called last-installed first, so a watch started before another
//       program's hooks sees exactly what those hooks pass on. The watch's window is also a
//       window of another program that input can reach: while `inject` gives it the focus and
//       the mouse capture, every input of the probe's that it receives is written as
//       "EVENT MESSAGE window #N", N the input's place in its `inject` call.
//   input_probe inject INPUT...
//       Sends each input with SendInput, one call per input, tagged as the probe's own with
//       its place in the call ("#N" in the watch output). With a watch running, its window takes
//       the foreground, the focus and the mouse capture before each input, and the input is
//       sent again when the window lost them before it could have received it (the updater
//       takes the foreground back ten times a second); the watch output can then show a
//       hook's line more than once for one N. After each input a sentinel (a key-up of F24,
//       "sentinel" in the hooks' lines) tells when the window has had all of it.
//       INPUT is key-down:VK or key-up:VK (VK in hex), left-down, left-up, right-down,
//       right-up, middle-down, middle-up, x-down, x-up, wheel or move; EVENT in the watch
//       output uses the same names.
//   input_probe stream INPUT COUNT GAP_MS
//       Sends INPUT COUNT times, GAP_MS apart, and prints how long each SendInput took in
//       microseconds, one a line: SendInput returns once every low-level hook has answered,
//       so this is the hooks' answer time.
//   input_probe post CLASS CAPTION MESSAGE WPARAM LPARAM [MESSAGE WPARAM LPARAM]...
//       Posts each MESSAGE, in order, to the top-level window FindWindowA(CLASS, CAPTION)
//       finds. Numbers are decimal, or hex with a 0x prefix.
//
// Exit status: 0 done, 1 failed, 2 bad usage.

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// dwExtraInfo of every input `inject` sends: how the watch tells them from Wine's own. The low
// bits carry the input's place in its `inject` call.
constexpr ULONG_PTR kProbeTag = 0x1F2E0000;
constexpr ULONG_PTR kProbeTagMask = 0xFFFF0000;
constexpr ULONG_PTR kProbeIndexMask = 0x0000FFFF;
// The watch window's own messages, sent by `inject`: take the input (answers which of the
// foreground, the focus and the capture it then has), and which input it last received (answers the place
// + 1, or 0; wParam 1 asks instead whether it lost the input since it last took it, wParam 2
// whether the last input the probe's hooks saw never reached the window).
constexpr UINT kTakeInputMessage = WM_APP + 1;
constexpr UINT kReceivedMessage = WM_APP + 2;
constexpr WPARAM kAskLost = 1;
constexpr WPARAM kAskHookedOnly = 2;
constexpr LRESULT kHasForeground = 1;
constexpr LRESULT kHasFocus = 2;
constexpr LRESULT kHasCapture = 4;
constexpr LRESULT kHasInput = kHasForeground | kHasFocus | kHasCapture;
constexpr UINT kAnswerTimeoutMs = 5000;
// After each input `inject` sends a sentinel that passes any input lock, a key-up of F24 (its
// place with kSentinelBit set, "sentinel" in the hook's lines, never written for the window).
// Input reaches a window in the order it was sent: once the sentinel is there, whatever of the
// input came has come. Waited for at most kSentinelWaitMs, polling every kReceivedPollMs; an
// input lost to another window before its sentinel came is sent again, up to kMaxAttempts.
constexpr const char* kSentinelInput = "key-up:87";
constexpr ULONG_PTR kSentinelBit = 0x8000;
constexpr DWORD kSentinelWaitMs = 10000;
constexpr DWORD kReceivedPollMs = 2;
constexpr int kMaxAttempts = 200;
constexpr int kMaxOvertaken = 5;
constexpr int kWatchWindowSize = 200;
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr int kVkDigits = 2;
constexpr int kMessageDigits = 4;
constexpr size_t kHexTextCapacity = 32;
constexpr unsigned long kMaxVk = 0xFF;
constexpr unsigned long kMaxSeconds = 24 * 60 * 60;
constexpr UINT kMillisecondsPerSecond = 1000;
constexpr UINT_PTR kEndTimer = 1;
// How far a `move` puts the pointer from the screen's centre when it is already there.
constexpr int kMoveOffsetPx = 8;
// Absolute mouse coordinates run from 0 to this over the primary screen.
constexpr int kAbsoluteRange = 65535;

constexpr const char* kWatchClass = "InputProbeWatch";
constexpr const char* kWatchCaption = "input probe";

struct UsageError {
  std::string message;
};

struct Failure {
  std::string message;
};

// ---------------------------------------------------------------------------
// Owners for what the Windows API hands out, so that every exit path gives it back.

template <typename T, auto Release>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T value) : value_(value) {}
  ~Owned() {
    if (value_ != T{}) Release(value_);
  }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
  Owned& operator=(Owned&&) = delete;

  T get() const { return value_; }
  explicit operator bool() const { return value_ != T{}; }

 private:
  T value_{};
};

using UniqueHandle = Owned<HANDLE, &CloseHandle>;
using UniqueHook = Owned<HHOOK, &UnhookWindowsHookEx>;

// A window may have destroyed itself already, on WM_CLOSE or at the end of its time.
void destroyIfAlive(HWND hwnd) {
  if (IsWindow(hwnd)) DestroyWindow(hwnd);
}
using UniqueWindow = Owned<HWND, &destroyIfAlive>;

std::string errorText(std::string_view what) {
  return std::string(what) + " (error " + std::to_string(GetLastError()) + ")";
}

// Decimal, or hex with a 0x prefix.
unsigned long parseNumber(std::string_view text, std::string_view what) {
  int base = kDecimalBase;
  std::string digits(text);
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = kHexBase;
    digits.erase(0, 2);
  }
  char* end = nullptr;
  errno = 0;
  const unsigned long value = std::strtoul(digits.c_str(), &end, base);
  const bool allDigits = !digits.empty() && *end == '\0' && digits[0] != '-' && digits[0] != '+';
  if (!allDigits || errno == ERANGE) {
    throw UsageError{std::string(what) + " is not a number: " + std::string(text)};
  }
  return value;
}

// ---------------------------------------------------------------------------
// Names shared by `inject` and `watch`

struct MouseEvent {
  std::string_view name;
  WPARAM message;  // what a low-level mouse hook is called with
  DWORD flags;     // what SendInput is given
  DWORD data;      // mouseData for SendInput
};

constexpr MouseEvent kMouseEvents[] = {
    {"left-down", WM_LBUTTONDOWN, MOUSEEVENTF_LEFTDOWN, 0},
    {"left-up", WM_LBUTTONUP, MOUSEEVENTF_LEFTUP, 0},
    {"right-down", WM_RBUTTONDOWN, MOUSEEVENTF_RIGHTDOWN, 0},
    {"right-up", WM_RBUTTONUP, MOUSEEVENTF_RIGHTUP, 0},
    {"middle-down", WM_MBUTTONDOWN, MOUSEEVENTF_MIDDLEDOWN, 0},
    {"middle-up", WM_MBUTTONUP, MOUSEEVENTF_MIDDLEUP, 0},
    {"x-down", WM_XBUTTONDOWN, MOUSEEVENTF_XDOWN, XBUTTON1},
    {"x-up", WM_XBUTTONUP, MOUSEEVENTF_XUP, XBUTTON1},
    {"wheel", WM_MOUSEWHEEL, MOUSEEVENTF_WHEEL, WHEEL_DELTA},
    {"move", WM_MOUSEMOVE, MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE, 0},
};

constexpr std::string_view kKeyDownPrefix = "key-down:";
constexpr std::string_view kKeyUpPrefix = "key-up:";

struct MessageName {
  WPARAM message;
  std::string_view name;
};

constexpr MessageName kMessageNames[] = {
    {WM_KEYDOWN, "WM_KEYDOWN"},         {WM_KEYUP, "WM_KEYUP"},
    {WM_SYSKEYDOWN, "WM_SYSKEYDOWN"},   {WM_SYSKEYUP, "WM_SYSKEYUP"},
    {WM_MOUSEMOVE, "WM_MOUSEMOVE"},     {WM_LBUTTONDOWN, "WM_LBUTTONDOWN"},
    {WM_LBUTTONUP, "WM_LBUTTONUP"},     {WM_RBUTTONDOWN, "WM_RBUTTONDOWN"},
    {WM_RBUTTONUP, "WM_RBUTTONUP"},     {WM_MBUTTONDOWN, "WM_MBUTTONDOWN"},
    {WM_MBUTTONUP, "WM_MBUTTONUP"},     {WM_XBUTTONDOWN, "WM_XBUTTONDOWN"},
    {WM_XBUTTONUP, "WM_XBUTTONUP"},     {WM_MOUSEWHEEL, "WM_MOUSEWHEEL"},
    {WM_MOUSEHWHEEL, "WM_MOUSEHWHEEL"},
};

std::string hexText(unsigned long value, int digits) {
  char text[kHexTextCapacity];
  std::snprintf(text, sizeof text, "%0*lX", digits, value);
  return text;
}

std::string messageName(WPARAM message) {
  for (const MessageName& known : kMessageNames) {
    if (known.message == message) return std::string(known.name);
  }
  return "0x" + hexText(static_cast<unsigned long>(message), kMessageDigits);
}

// ---------------------------------------------------------------------------
// watch

// What the hook procedures write to; set while the hooks are installed.
HANDLE g_watchOutput = nullptr;

void writeLine(HANDLE file, std::string line) {
  line += '\n';
  DWORD written = 0;
  // Unbuffered: each line is in the file as soon as the call returns.
  WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool isProbeInput(ULONG_PTR extraInfo) { return (extraInfo & kProbeTagMask) == kProbeTag; }
bool isSentinel(ULONG_PTR extraInfo) { return isProbeInput(extraInfo) && (extraInfo & kSentinelBit) != 0; }
const char* origin(ULONG_PTR extraInfo) {
  if (isSentinel(extraInfo)) return "sentinel";
  return isProbeInput(extraInfo) ? "probe" : "other";
}
std::string place(ULONG_PTR extraInfo) {
  return isProbeInput(extraInfo) ? " #" + std::to_string(extraInfo & kProbeIndexMask) : std::string();
}

// What the watch window received of the probe's input, for `inject`'s questions.
LRESULT g_lastReceived = 0;  // place + 1
LRESULT g_lastReceivedInput = 0;  // the same without the sentinels
LRESULT g_lastHooked = 0;  // the last input (no sentinel) the probe's hooks saw: place + 1
bool g_lostInput = false;

void noteHooked(ULONG_PTR extraInfo) {
  if (isProbeInput(extraInfo) && !isSentinel(extraInfo)) g_lastHooked = static_cast<LRESULT>(extraInfo & kProbeIndexMask) + 1;
}

// The hooks note the event and pass everything on to the hooks installed before them.
LRESULT CALLBACK keyboardWatch(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && g_watchOutput != nullptr) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    noteHooked(key->dwExtraInfo);
    const std::string_view prefix = (key->flags & LLKHF_UP) != 0 ? kKeyUpPrefix : kKeyDownPrefix;
    writeLine(g_watchOutput, std::string(prefix) + hexText(key->vkCode, kVkDigits) + " " +
                                 messageName(message) + " " + origin(key->dwExtraInfo) + place(key->dwExtraInfo));
  }
  return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK mouseWatch(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && g_watchOutput != nullptr) {
    const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
    noteHooked(mouse->dwExtraInfo);
    std::string event = "unknown";
    for (const MouseEvent& known : kMouseEvents) {
      if (known.message == message) event = std::string(known.name);
    }
    writeLine(g_watchOutput, event + " " + messageName(message) + " " + origin(mouse->dwExtraInfo) +
                                 place(mouse->dwExtraInfo));
  }
  return CallNextHookEx(nullptr, code, message, data);
}

// An input message the window received: its event name, or empty for any other message.
std::string receivedEvent(UINT message, WPARAM wParam) {
  switch (message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return std::string(kKeyDownPrefix) + hexText(static_cast<unsigned long>(wParam), kVkDigits);
    case WM_KEYUP:
    case WM_SYSKEYUP:
      return std::string(kKeyUpPrefix) + hexText(static_cast<unsigned long>(wParam), kVkDigits);
    default:
      break;
  }
  for (const MouseEvent& known : kMouseEvents) {
    if (known.message == message) return std::string(known.name);
  }
  return {};
}

LRESULT CALLBACK watchWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (const std::string event = receivedEvent(message, wParam); !event.empty()) {
    const ULONG_PTR extra = static_cast<ULONG_PTR>(GetMessageExtraInfo());
    if (g_watchOutput != nullptr && isProbeInput(extra)) {
      g_lastReceived = static_cast<LRESULT>(extra & kProbeIndexMask) + 1;
      if (!isSentinel(extra)) {
        writeLine(g_watchOutput, event + " " + messageName(message) + " window" + place(extra));
        g_lastReceivedInput = g_lastReceived;
      }
    }
    // Nothing of the system's own handling: no menu mode on F10 or Alt, no activation.
    return 0;
  }
  switch (message) {
    case kTakeInputMessage:
      // Shown only now: until input is sent it stays out of every screenshot.
      if (IsWindowVisible(hwnd) == FALSE) ShowWindow(hwnd, SW_SHOW);
      SetForegroundWindow(hwnd);
      SetFocus(hwnd);
      SetCapture(hwnd);
      g_lostInput = false;
      g_lastHooked = 0;
      g_lastReceivedInput = 0;
      return (GetForegroundWindow() == hwnd ? kHasForeground : 0) | (GetFocus() == hwnd ? kHasFocus : 0) |
             (GetCapture() == hwnd ? kHasCapture : 0);
    case kReceivedMessage:
      if (wParam == kAskLost) return g_lostInput ? 1 : 0;
      if (wParam == kAskHookedOnly) return g_lastHooked != 0 && g_lastHooked != g_lastReceivedInput ? 1 : 0;
      return g_lastReceived;
    case WM_KILLFOCUS:
    case WM_CAPTURECHANGED:
      g_lostInput = true;
      return DefWindowProcA(hwnd, message, wParam, lParam);
    case WM_MOUSEACTIVATE:
      return MA_ACTIVATE;
    case WM_TIMER:
      if (wParam == kEndTimer) DestroyWindow(hwnd);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(kExitOk);
      return 0;
    default:
      return DefWindowProcA(hwnd, message, wParam, lParam);
  }
}

// Unregisters the window class at the end of the watch.
class WatchClass {
 public:
  explicit WatchClass(HINSTANCE instance) : instance_(instance) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &watchWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = kWatchClass;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    if (RegisterClassA(&windowClass) == 0) throw Failure{errorText("RegisterClassA failed")};
  }
  ~WatchClass() { UnregisterClassA(kWatchClass, instance_); }
  WatchClass(const WatchClass&) = delete;
  WatchClass& operator=(const WatchClass&) = delete;

 private:
  HINSTANCE instance_;
};

// Points the hook procedures at the output file for as long as it lives.
class WatchOutputScope {
 public:
  explicit WatchOutputScope(HANDLE file) { g_watchOutput = file; }
  ~WatchOutputScope() { g_watchOutput = nullptr; }
  WatchOutputScope(const WatchOutputScope&) = delete;
  WatchOutputScope& operator=(const WatchOutputScope&) = delete;
};

int cmdWatch(std::span<char* const> args) {
  const unsigned long seconds = parseNumber(args[0], "SECONDS");
  if (seconds == 0 || seconds > kMaxSeconds) throw UsageError{"SECONDS out of range"};
  // Readable while it is written: the check reads the lines as they come.
  const HANDLE file = CreateFileA(args[1], GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw Failure{errorText(std::string("cannot create ") + args[1])};
  }
  const UniqueHandle output(file);
  const HINSTANCE self = GetModuleHandleA(nullptr);
  const WatchClass windowClass(self);
  // A small black window, below any top-most one, shown when input is first given to it.
  const UniqueWindow window(CreateWindowExA(0, kWatchClass, kWatchCaption, WS_POPUP, 0, 0,
                                            kWatchWindowSize, kWatchWindowSize, nullptr, nullptr,
                                            self, nullptr));
  if (!window) throw Failure{errorText("CreateWindowExA failed")};
  if (SetTimer(window.get(), kEndTimer, static_cast<UINT>(seconds) * kMillisecondsPerSecond,
               nullptr) == 0) {
    throw Failure{errorText("SetTimer failed")};
  }

  const WatchOutputScope scope(output.get());
  const UniqueHook keyboard(SetWindowsHookExA(WH_KEYBOARD_LL, &keyboardWatch, self, 0));
  if (!keyboard) throw Failure{errorText("keyboard hook not installed")};
  const UniqueHook mouse(SetWindowsHookExA(WH_MOUSE_LL, &mouseWatch, self, 0));
  if (!mouse) throw Failure{errorText("mouse hook not installed")};
  writeLine(output.get(), "ready");

  // Low-level hooks are called through this thread's message queue.
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// inject

INPUT keyInput(std::string_view digits, bool up) {
  const unsigned long vk = parseNumber("0x" + std::string(digits), "VK");
  if (vk == 0 || vk > kMaxVk) throw UsageError{"VK out of range: " + std::string(digits)};
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = static_cast<WORD>(vk);
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(static_cast<UINT>(vk), MAPVK_VK_TO_VSC));
  input.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  input.ki.dwExtraInfo = kProbeTag;
  return input;
}

// A move always goes somewhere else than where the pointer is: to the screen's centre, or
// beside it when it is there already.
void aimMove(MOUSEINPUT& mouse) {
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  POINT target{width / 2, height / 2};
  POINT now{};
  if (GetCursorPos(&now) && now.x == target.x && now.y == target.y) {
    target.x += kMoveOffsetPx;
    target.y += kMoveOffsetPx;
  }
  mouse.dx = MulDiv(target.x, kAbsoluteRange, width - 1);
  mouse.dy = MulDiv(target.y, kAbsoluteRange, height - 1);
}

INPUT parseInput(std::string_view name) {
  if (name.starts_with(kKeyDownPrefix)) return keyInput(name.substr(kKeyDownPrefix.size()), false);
  if (name.starts_with(kKeyUpPrefix)) return keyInput(name.substr(kKeyUpPrefix.size()), true);
  for (const MouseEvent& known : kMouseEvents) {
    if (known.name != name) continue;
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = known.flags;
    input.mi.mouseData = known.data;
    input.mi.dwExtraInfo = kProbeTag;
    if (known.message == WM_MOUSEMOVE) aimMove(input.mi);
    return input;
  }
  throw UsageError{"unknown input " + std::string(name)};
}

DWORD_PTR askWatch(HWND watch, UINT message, WPARAM wParam) {
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutA(watch, message, wParam, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &answer) == 0) {
    throw Failure{errorText("the watch window does not answer")};
  }
  return answer;
}

void sendOne(const char* name, ULONG_PTR placeTag) {
  // A move is aimed from where the pointer is now.
  INPUT input = parseInput(name);
  if (input.type == INPUT_KEYBOARD) {
    input.ki.dwExtraInfo = kProbeTag | placeTag;
  } else {
    input.mi.dwExtraInfo = kProbeTag | placeTag;
  }
  if (SendInput(1, &input, sizeof input) != 1) {
    throw Failure{errorText(std::string("SendInput failed for ") + name)};
  }
}

// Gives the watch window the input, sends one input and its sentinel, and waits for the
// sentinel. Sent again when the window lost the input before the sentinel came.
void sendToWatch(HWND watch, const char* name, ULONG_PTR placeTag) {
  int notTaken = 0;
  int lostFirst = 0;
  int overtaken = 0;
  DWORD_PTR taken = 0;
  const ULONG_PTR sentinelTag = kSentinelBit | placeTag;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    taken = askWatch(watch, kTakeInputMessage, 0);
    if (taken != static_cast<DWORD_PTR>(kHasInput)) {
      ++notTaken;
      continue;
    }
    sendOne(name, placeTag);
    sendOne(kSentinelInput, sentinelTag);
    const ULONGLONG deadline = GetTickCount64() + kSentinelWaitMs;
    while (askWatch(watch, kReceivedMessage, 0) != static_cast<DWORD_PTR>(sentinelTag) + 1) {
      if (askWatch(watch, kReceivedMessage, kAskLost) != 0) break;
      if (GetTickCount64() >= deadline) {
        throw Failure{std::string("no sentinel after ") + name + " within " + std::to_string(kSentinelWaitMs) +
                      " ms though the window kept the input"};
      }
      Sleep(kReceivedPollMs);
    }
    // The sentinel came (the window may have lost the input just after it): done, unless the
    // input passed the hooks and still did not reach the window, which Wine does to a pointer
    // move that a move of its own (a window moved under the pointer) overtakes in the queue.
    if (askWatch(watch, kReceivedMessage, 0) == static_cast<DWORD_PTR>(sentinelTag) + 1) {
      if (askWatch(watch, kReceivedMessage, kAskHookedOnly) == 0 || ++overtaken > kMaxOvertaken) return;
      continue;
    }
    ++lostFirst;
  }
  throw Failure{std::string("the watch window never kept the input long enough for ") + name + " (" +
                std::to_string(notTaken) + " times not taken (last: " + std::to_string(taken) +
                " of foreground 1, focus 2, capture 4), " + std::to_string(lostFirst) +
                " times lost before its sentinel came)"};
}

int cmdInject(std::span<char* const> args) {
  // Every input is checked before the first input goes out.
  for (const char* name : args) parseInput(name);
  if (args.size() >= kSentinelBit) throw UsageError{"too many inputs"};
  const HWND watch = FindWindowA(kWatchClass, kWatchCaption);
  for (size_t i = 0; i < args.size(); ++i) {
    if (watch != nullptr) {
      sendToWatch(watch, args[i], i);
    } else {
      sendOne(args[i], i);
    }
  }
  return kExitOk;
}

constexpr unsigned long kMaxStreamCount = 10000;
constexpr unsigned long kMaxGapMs = 10000;
constexpr long long kMicrosecondsPerSecond = 1000000;

int cmdStream(std::span<char* const> args) {
  INPUT input = parseInput(args[0]);
  const unsigned long count = parseNumber(args[1], "COUNT");
  const unsigned long gapMs = parseNumber(args[2], "GAP_MS");
  if (count == 0 || count > kMaxStreamCount || gapMs > kMaxGapMs) throw UsageError{"COUNT or GAP_MS out of range"};
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  for (unsigned long i = 0; i < count; ++i) {
    LARGE_INTEGER before;
    LARGE_INTEGER after;
    QueryPerformanceCounter(&before);
    if (SendInput(1, &input, sizeof input) != 1) throw Failure{errorText("SendInput failed")};
    QueryPerformanceCounter(&after);
    std::printf("%lld\n", (after.QuadPart - before.QuadPart) * kMicrosecondsPerSecond / frequency.QuadPart);
    std::fflush(stdout);
    Sleep(gapMs);
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// post

constexpr size_t kPostTarget = 2;       // CLASS CAPTION
constexpr size_t kPostMessageArgs = 3;  // MESSAGE WPARAM LPARAM

struct Posted {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

int cmdPost(std::span<char* const> args) {
  const std::span<char* const> triples = args.subspan(kPostTarget);
  if (triples.size() % kPostMessageArgs != 0) {
    throw UsageError{"MESSAGE WPARAM LPARAM come in threes"};
  }
  // Every number is checked before the first message goes out.
  std::vector<Posted> messages;
  for (size_t i = 0; i < triples.size(); i += kPostMessageArgs) {
    messages.push_back({static_cast<UINT>(parseNumber(triples[i], "MESSAGE")),
                        parseNumber(triples[i + 1], "WPARAM"),
                        static_cast<LPARAM>(parseNumber(triples[i + 2], "LPARAM"))});
  }
  const HWND target = FindWindowA(args[0], args[1]);
  if (target == nullptr) throw Failure{std::string("no window ") + args[0] + "|" + args[1]};
  for (const Posted& posted : messages) {
    if (!PostMessageA(target, posted.message, posted.wParam, posted.lParam)) {
      throw Failure{errorText("PostMessageA failed")};
    }
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------

struct Command {
  std::string_view name;
  std::string_view params;
  size_t minArgs;
  size_t maxArgs;
  int (*run)(std::span<char* const> args);
};

constexpr size_t kAnyCount = static_cast<size_t>(-1);

constexpr Command kCommands[] = {
    {"watch", "SECONDS OUT_FILE", 2, 2, cmdWatch},
    {"inject", "INPUT...", 1, kAnyCount, cmdInject},
    {"stream", "INPUT COUNT GAP_MS", 3, 3, cmdStream},
    {"post", "CLASS CAPTION MESSAGE WPARAM LPARAM [MESSAGE WPARAM LPARAM]...", 5, kAnyCount,
     cmdPost},
};

void printUsage() {
  std::fputs("usage:\n", stderr);
  for (const Command& command : kCommands) {
    std::fprintf(stderr, "  input_probe %.*s %.*s\n", static_cast<int>(command.name.size()),
                 command.name.data(), static_cast<int>(command.params.size()),
                 command.params.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::span<char* const> all(argv, static_cast<size_t>(argc));
  const Command* command = nullptr;
  if (all.size() > 1) {
    for (const Command& known : kCommands) {
      if (known.name == all[1]) command = &known;
    }
  }
  if (command == nullptr) {
    printUsage();
    return kExitUsage;
  }
  const std::span<char* const> args = all.subspan(2);
  try {
    if (args.size() < command->minArgs || args.size() > command->maxArgs) {
      throw UsageError{"wrong number of arguments"};
    }
    return command->run(args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "input_probe: %s\n", error.message.c_str());
    printUsage();
    return kExitUsage;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "input_probe %s: %s\n", all[1], failure.message.c_str());
    return kExitFailed;
  }
}
