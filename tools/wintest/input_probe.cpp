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
//       program's hooks sees exactly what those hooks pass on.
//   input_probe inject INPUT...
//       Sends each input with SendInput, one call per input, tagged as the probe's own.
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

// dwExtraInfo of every input `inject` sends: how the watch tells them from Wine's own.
constexpr ULONG_PTR kProbeTag = 0x1F2E3D4C;
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

const char* origin(ULONG_PTR extraInfo) { return extraInfo == kProbeTag ? "probe" : "other"; }

// The hooks note the event and pass everything on to the hooks installed before them.
LRESULT CALLBACK keyboardWatch(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && g_watchOutput != nullptr) {
    const auto* key = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data);
    const std::string_view prefix = (key->flags & LLKHF_UP) != 0 ? kKeyUpPrefix : kKeyDownPrefix;
    writeLine(g_watchOutput, std::string(prefix) + hexText(key->vkCode, kVkDigits) + " " +
                                 messageName(message) + " " + origin(key->dwExtraInfo));
  }
  return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK mouseWatch(int code, WPARAM message, LPARAM data) {
  if (code == HC_ACTION && g_watchOutput != nullptr) {
    const auto* mouse = reinterpret_cast<const MSLLHOOKSTRUCT*>(data);
    std::string event = "unknown";
    for (const MouseEvent& known : kMouseEvents) {
      if (known.message == message) event = std::string(known.name);
    }
    writeLine(g_watchOutput, event + " " + messageName(message) + " " + origin(mouse->dwExtraInfo));
  }
  return CallNextHookEx(nullptr, code, message, data);
}

LRESULT CALLBACK watchWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
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
  const UniqueWindow window(CreateWindowExA(0, kWatchClass, kWatchCaption, WS_OVERLAPPED, 0, 0,
                                            0, 0, nullptr, nullptr, self, nullptr));
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

int cmdInject(std::span<char* const> args) {
  // Every input is checked before the first input goes out.
  for (const char* name : args) parseInput(name);
  for (const char* name : args) {
    // A move is aimed from where the pointer is now.
    INPUT input = parseInput(name);
    if (SendInput(1, &input, sizeof input) != 1) {
      throw Failure{errorText(std::string("SendInput failed for ") + name)};
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
