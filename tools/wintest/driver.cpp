// wintest: the end-to-end tests' hands and eyes inside Wine.
//
// A console program run under Wine next to the program being tested. It finds that
// program's windows, reads their text, buttons and icon, presses buttons, starts the
// program and records which windows it showed, and takes screenshots. Each command
// prints its result to stdout; diagnostics go to stderr.
//
// Usage: wintest COMMAND ARGS...   (no arguments: list the commands)
// Exit status: 0 done, 1 a wait or lookup failed, 2 bad usage.
//
// Window lookup is FindWindowA(CLASS, CAPTION) over top-level windows; CLASS "-"
// matches any class. Text goes through the ANSI calls, so it comes out in the system
// code page (949 when Wine runs in a Korean locale).

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <tlhelp32.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr DWORD kPollIntervalMs = 10;
constexpr UINT kSendTimeoutMs = 5000;
constexpr UINT kClickWaitMs = 2000;
constexpr DWORD kTerminateWaitMs = 5000;
constexpr std::string_view kAnyClass = "-";
constexpr std::string_view kButtonClass = "Button";
constexpr std::string_view kStaticClass = "Static";
constexpr int kClassNameCapacity = 256;
constexpr int kInitialTextCapacity = 256;
constexpr int kMaxTextCapacity = 1 << 20;

// Pixels whose colour differs from the reference by more than this in any channel
// count as different; the share of such pixels allowed before an icon is "unknown".
constexpr int kChannelTolerance = 8;
constexpr double kMaxDifferentShare = 0.02;

constexpr WORD kBmpMagic = 0x4D42;  // "BM"
constexpr WORD kScreenshotBitsPerPixel = 24;
constexpr WORD kCompareBitsPerPixel = 32;

// ---------------------------------------------------------------------------
// Errors: a command throws one of these; main turns it into the exit status.

struct UsageError {
  std::string message;
};

struct Failure {
  std::string message;
};

// ---------------------------------------------------------------------------
// Owners for Windows handles, so that every exit path releases them.

template <typename T, auto Release>
class Owned {
 public:
  Owned() = default;
  explicit Owned(T value) : value_(value) {}
  ~Owned() { reset(); }
  Owned(const Owned&) = delete;
  Owned& operator=(const Owned&) = delete;
  Owned(Owned&& other) noexcept : value_(std::exchange(other.value_, T{})) {}
  Owned& operator=(Owned&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = std::exchange(other.value_, T{});
    }
    return *this;
  }

  T get() const { return value_; }
  explicit operator bool() const { return value_ != T{}; }

 private:
  void reset() {
    if (value_ != T{}) Release(value_);
    value_ = T{};
  }

  T value_{};
};

using UniqueHandle = Owned<HANDLE, &CloseHandle>;
using MemoryDc = Owned<HDC, &DeleteDC>;
using Bitmap = Owned<HBITMAP, &DeleteObject>;

// A device context from GetDC, given back with ReleaseDC.
class WindowDc {
 public:
  explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {
    if (!dc_) throw Failure{"GetDC failed"};
  }
  ~WindowDc() { ReleaseDC(hwnd_, dc_); }
  WindowDc(const WindowDc&) = delete;
  WindowDc& operator=(const WindowDc&) = delete;

  HDC get() const { return dc_; }

 private:
  HWND hwnd_;
  HDC dc_;
};

// A bottom-up device-independent bitmap selected into its own memory DC: something
// to draw or copy the screen into, whose pixels can then be read directly (after
// GdiFlush, which whoever draws into it calls).
class Canvas {
 public:
  Canvas(int width, int height, WORD bitsPerPixel)
      : width_(width), height_(height), bitsPerPixel_(bitsPerPixel),
        dc_(CreateCompatibleDC(nullptr)) {
    if (!dc_) throw Failure{"CreateCompatibleDC failed"};
    BITMAPINFO info{};
    info.bmiHeader = header();
    bitmap_ = Bitmap(CreateDIBSection(dc_.get(), &info, DIB_RGB_COLORS, &bits_, nullptr, 0));
    if (!bitmap_) throw Failure{"CreateDIBSection failed"};
    previous_ = SelectObject(dc_.get(), bitmap_.get());
  }
  ~Canvas() {
    if (dc_) SelectObject(dc_.get(), previous_);  // the bitmap leaves the DC before both go
  }
  Canvas(const Canvas&) = delete;
  Canvas& operator=(const Canvas&) = delete;
  Canvas(Canvas&&) noexcept = default;
  Canvas& operator=(Canvas&&) = delete;

  HDC dc() const { return dc_.get(); }
  int width() const { return width_; }
  int height() const { return height_; }
  size_t stride() const { return ((static_cast<size_t>(width_) * bitsPerPixel_ + 31) / 32) * 4; }
  size_t imageSize() const { return stride() * static_cast<size_t>(height_); }
  std::span<const BYTE> bytes() const { return {static_cast<const BYTE*>(bits_), imageSize()}; }

  // Colour of pixel (x, y) as 0x00RRGGBB; only for 32 bits per pixel.
  uint32_t pixel(int x, int y) const {
    const BYTE* row = bytes().data() + stride() * static_cast<size_t>(height_ - 1 - y);
    uint32_t value = 0;
    std::memcpy(&value, row + static_cast<size_t>(x) * 4, sizeof value);
    return value & 0x00FFFFFFu;
  }

  void fill(COLORREF colour) const {
    Owned<HBRUSH, &DeleteObject> brush(CreateSolidBrush(colour));
    const RECT all{0, 0, width_, height_};
    FillRect(dc(), &all, brush.get());
  }

  BITMAPINFOHEADER header() const {
    BITMAPINFOHEADER h{};
    h.biSize = sizeof h;
    h.biWidth = width_;
    h.biHeight = height_;  // positive: bottom-up rows, as a BMP file stores them
    h.biPlanes = 1;
    h.biBitCount = bitsPerPixel_;
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(imageSize());
    return h;
  }

 private:
  int width_;
  int height_;
  WORD bitsPerPixel_;
  MemoryDc dc_;
  Bitmap bitmap_;
  void* bits_ = nullptr;
  HGDIOBJ previous_ = nullptr;
};

// ---------------------------------------------------------------------------
// Arguments

using Args = std::span<char* const>;

// Decimal, or hex with a 0x prefix.
unsigned long parseNumber(std::string_view text, std::string_view what) {
  int base = 10;
  std::string digits(text);
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
    base = 16;
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

DWORD parseTimeout(const char* text) { return parseNumber(text, "TIMEOUT_MS"); }

int parseControlId(const char* text) {
  return static_cast<int>(parseNumber(text, "CTRL_ID"));
}

// ---------------------------------------------------------------------------
// Windows

std::string className(HWND hwnd) {
  char name[kClassNameCapacity] = {};
  const int length = GetClassNameA(hwnd, name, kClassNameCapacity);
  return std::string(name, length > 0 ? static_cast<size_t>(length) : 0);
}

// Window classes and file names compare as Windows compares them, ignoring ASCII case.
bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool isClass(HWND hwnd, std::string_view expected) {
  return equalIgnoringCase(className(hwnd), expected);
}

// The window's text as ANSI bytes. The buffer grows until the text fits, because
// GetWindowTextLengthA can count characters rather than bytes of a double-byte
// code page.
std::string windowText(HWND hwnd) {
  int capacity = std::max(kInitialTextCapacity, GetWindowTextLengthA(hwnd) * 2 + 1);
  for (;;) {
    std::string text(static_cast<size_t>(capacity), '\0');
    const int copied = std::max(0, GetWindowTextA(hwnd, text.data(), capacity));
    if (copied < capacity - 1 || capacity >= kMaxTextCapacity) {
      text.resize(static_cast<size_t>(copied));
      return text;
    }
    capacity *= 2;
  }
}

DWORD windowProcessId(HWND hwnd) {
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  return pid;
}

std::string describeName(std::string_view cls, std::string_view caption) {
  return std::string(cls) + "|" + std::string(caption);
}

HWND lookupWindow(const char* cls, const char* caption) {
  return FindWindowA(cls == kAnyClass ? nullptr : cls, caption);
}

HWND requireWindow(const char* cls, const char* caption) {
  HWND hwnd = lookupWindow(cls, caption);
  if (!hwnd) throw Failure{"no window " + describeName(cls, caption)};
  return hwnd;
}

HWND requireControl(HWND parent, int id) {
  HWND control = GetDlgItem(parent, id);
  if (!control) throw Failure{"no control with id " + std::to_string(id)};
  return control;
}

// The window named by CLASS CAPTION, or its child CTRL_ID when that is given.
HWND requireTarget(Args args) {
  const std::optional<int> id =
      args.size() > 2 ? std::optional<int>(parseControlId(args[2])) : std::nullopt;
  const HWND hwnd = requireWindow(args[0], args[1]);
  return id ? requireControl(hwnd, *id) : hwnd;
}

std::vector<HWND> directChildren(HWND parent) {
  std::vector<HWND> children;
  for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    children.push_back(child);
  }
  return children;
}

BOOL CALLBACK appendWindow(HWND hwnd, LPARAM windows) {
  reinterpret_cast<std::vector<HWND>*>(windows)->push_back(hwnd);
  return TRUE;
}

std::vector<HWND> visibleTopLevelWindows() {
  std::vector<HWND> windows;
  EnumWindows(appendWindow, reinterpret_cast<LPARAM>(&windows));
  std::erase_if(windows, [](HWND hwnd) { return !IsWindowVisible(hwnd); });
  return windows;
}

// "0x" and at least `digits` lowercase hex digits.
std::string hexValue(unsigned long long value, int digits) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llx", digits, value);
  return text;
}

std::string hwndHex(HWND hwnd) { return hexValue(reinterpret_cast<uintptr_t>(hwnd), 8); }

// Polls until present() is true or the timeout passes; true when it became true.
template <typename Predicate>
bool pollUntil(DWORD timeoutMs, Predicate present) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (present()) return true;
    if (GetTickCount64() >= deadline) return false;
    Sleep(kPollIntervalMs);
  }
}

// ---------------------------------------------------------------------------
// Output

void writeRaw(std::string_view bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

void printLine(std::string_view line) {
  writeRaw(line);
  writeRaw("\n");
}

std::string toHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0xF];
  }
  return hex;
}

// ---------------------------------------------------------------------------
// Icons: which standard icon a message box shows.

struct StandardIcon {
  const char* name;
  LPCSTR resource;
};

const StandardIcon kStandardIcons[] = {
    {"exclamation", IDI_EXCLAMATION},
    {"hand", IDI_HAND},
    {"question", IDI_QUESTION},
    {"asterisk", IDI_ASTERISK},
};

HWND findIconControl(HWND dialog) {
  for (HWND child : directChildren(dialog)) {
    const LONG style = GetWindowLongA(child, GWL_STYLE);
    if (isClass(child, kStaticClass) && (style & SS_TYPEMASK) == SS_ICON) return child;
  }
  return nullptr;
}

SIZE clientSize(HWND hwnd) {
  RECT rect{};
  GetClientRect(hwnd, &rect);
  return {rect.right - rect.left, rect.bottom - rect.top};
}

// Draws an icon alone (DI_MASK, DI_IMAGE or DI_NORMAL) at the given size on a
// plain background.
Canvas drawIcon(HICON icon, SIZE size, UINT part, COLORREF background) {
  Canvas canvas(size.cx, size.cy, kCompareBitsPerPixel);
  canvas.fill(background);
  DrawIconEx(canvas.dc(), 0, 0, icon, size.cx, size.cy, 0, nullptr, part);
  GdiFlush();
  return canvas;
}

int channelDistance(uint32_t a, uint32_t b) {
  int worst = 0;
  for (int shift = 0; shift < 24; shift += 8) {
    const int da = static_cast<int>((a >> shift) & 0xFF);
    const int db = static_cast<int>((b >> shift) & 0xFF);
    worst = std::max(worst, std::abs(da - db));
  }
  return worst;
}

// Share of pixels that differ between two canvases of the same size.
double differentShare(const Canvas& a, const Canvas& b) {
  int different = 0;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      if (channelDistance(a.pixel(x, y), b.pixel(x, y)) > kChannelTolerance) ++different;
    }
  }
  const int total = a.width() * a.height();
  return total > 0 ? static_cast<double>(different) / total : 1.0;
}

// How far an icon's mask and colour images are from a standard icon's, drawn alike.
double iconDistance(HICON shown, HICON standard, SIZE size) {
  const double mask = differentShare(drawIcon(shown, size, DI_MASK, RGB(255, 255, 255)),
                                     drawIcon(standard, size, DI_MASK, RGB(255, 255, 255)));
  const double colour = differentShare(drawIcon(shown, size, DI_IMAGE, RGB(0, 0, 0)),
                                       drawIcon(standard, size, DI_IMAGE, RGB(0, 0, 0)));
  return std::max(mask, colour);
}

// Whether another process's icon handle can be used here. Windows shares icons
// between processes; Wine keeps an icon's data inside the process that loaded it,
// and GetIconInfo fails there (ERROR_INVALID_CURSOR_HANDLE).
bool iconReadable(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return false;
  const Bitmap colour(info.hbmColor);
  const Bitmap mask(info.hbmMask);
  return true;
}

// The control's pixels as they are on the screen.
Canvas captureWindow(HWND hwnd) {
  const SIZE size = clientSize(hwnd);
  POINT origin{0, 0};
  ClientToScreen(hwnd, &origin);
  Canvas canvas(size.cx, size.cy, kCompareBitsPerPixel);
  const WindowDc screen(nullptr);
  BitBlt(canvas.dc(), 0, 0, size.cx, size.cy, screen.get(), origin.x, origin.y,
         SRCCOPY | CAPTUREBLT);
  GdiFlush();
  return canvas;
}

// A point where the icon is transparent, to read the background colour from.
std::optional<POINT> transparentPoint(const Canvas& mask) {
  for (int y = 0; y < mask.height(); ++y) {
    for (int x = 0; x < mask.width(); ++x) {
      if (mask.pixel(x, y) == 0x00FFFFFFu) return POINT{x, y};
    }
  }
  return std::nullopt;
}

// How far the pixels on screen are from a standard icon drawn on the same background.
double screenDistance(const Canvas& screen, HICON standard) {
  const SIZE size{screen.width(), screen.height()};
  const std::optional<POINT> clear =
      transparentPoint(drawIcon(standard, size, DI_MASK, RGB(255, 255, 255)));
  const uint32_t bgr = clear ? screen.pixel(clear->x, clear->y) : 0;
  const COLORREF background = RGB((bgr >> 16) & 0xFF, (bgr >> 8) & 0xFF, bgr & 0xFF);
  return differentShare(screen, drawIcon(standard, size, DI_NORMAL, background));
}

// Names the standard icon closest to what the control shows, drawn at the
// control's size: by the icon's own mask and colour when its handle is readable
// from here, else by the control's pixels on the screen (which then must not be
// covered). "none" when the control holds no icon or is hidden.
const char* identifyIcon(HWND control) {
  DWORD_PTR result = 0;
  if (!IsWindowVisible(control) ||
      !SendMessageTimeoutA(control, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result) ||
      result == 0) {
    return "none";
  }
  const HICON shown = reinterpret_cast<HICON>(result);
  const SIZE size = clientSize(control);
  const bool readable = iconReadable(shown);
  std::optional<Canvas> screen;
  if (!readable) screen.emplace(captureWindow(control));

  const char* best = "unknown";
  double bestDistance = kMaxDifferentShare;
  for (const StandardIcon& candidate : kStandardIcons) {
    HICON standard = LoadIconA(nullptr, candidate.resource);
    if (!standard) continue;
    const double distance =
        readable ? iconDistance(shown, standard, size) : screenDistance(*screen, standard);
    if (distance <= bestDistance) {
      best = candidate.name;
      bestDistance = distance;
    }
  }
  return best;
}

// ---------------------------------------------------------------------------
// Screenshots

Canvas captureScreen() {
  const int left = GetSystemMetrics(SM_XVIRTUALSCREEN);
  const int top = GetSystemMetrics(SM_YVIRTUALSCREEN);
  Canvas canvas(GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN),
                kScreenshotBitsPerPixel);
  const WindowDc screen(nullptr);
  if (!BitBlt(canvas.dc(), 0, 0, canvas.width(), canvas.height(), screen.get(), left, top,
              SRCCOPY | CAPTUREBLT)) {
    throw Failure{"BitBlt from the screen failed"};
  }
  GdiFlush();
  return canvas;
}

void writeAll(HANDLE file, const void* data, size_t size) {
  DWORD written = 0;
  if (!WriteFile(file, data, static_cast<DWORD>(size), &written, nullptr) || written != size) {
    throw Failure{"write failed"};
  }
}

UniqueHandle createOutputFile(const char* path) {
  const HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw Failure{std::string("cannot create ") + path + " (error " +
                  std::to_string(GetLastError()) + ")"};
  }
  return UniqueHandle(file);
}

void writeBmp(const char* path, const Canvas& canvas) {
  const BITMAPINFOHEADER info = canvas.header();
  BITMAPFILEHEADER file{};
  file.bfType = kBmpMagic;
  file.bfOffBits = sizeof file + sizeof info;
  file.bfSize = static_cast<DWORD>(file.bfOffBits + canvas.imageSize());

  const UniqueHandle out = createOutputFile(path);
  writeAll(out.get(), &file, sizeof file);
  writeAll(out.get(), &info, sizeof info);
  const std::span<const BYTE> bits = canvas.bytes();
  writeAll(out.get(), bits.data(), bits.size());
}

// ---------------------------------------------------------------------------
// Running the program under test

struct SeenWindow {
  HWND hwnd;
  std::string cls;
  std::string caption;
};

// Adds the process's visible top-level windows not seen before, as they are now.
void recordWindows(DWORD pid, std::vector<SeenWindow>& seen) {
  for (HWND hwnd : visibleTopLevelWindows()) {
    if (windowProcessId(hwnd) != pid) continue;
    const bool known = std::any_of(seen.begin(), seen.end(),
                                   [hwnd](const SeenWindow& w) { return w.hwnd == hwnd; });
    if (!known) seen.push_back({hwnd, className(hwnd), windowText(hwnd)});
  }
}

// "EXE_PATH" quoted, then one space and ARGS_TEXT exactly as given.
std::string buildCommandLine(std::string_view exe, const char* argsText) {
  std::string line;
  line.append("\"").append(exe).append("\"");
  if (argsText) line.append(" ").append(argsText);
  return line;
}

struct Process {
  UniqueHandle process;
  DWORD pid;
};

Process startProcess(std::string commandLine) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    throw Failure{"cannot start " + commandLine + " (error " + std::to_string(GetLastError()) +
                  ")"};
  }
  CloseHandle(info.hThread);
  return {UniqueHandle(info.hProcess), info.dwProcessId};
}

// Waits for the process to end, noting its windows every poll; false on timeout.
bool watchUntilExit(const Process& child, DWORD timeoutMs, std::vector<SeenWindow>& seen) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    recordWindows(child.pid, seen);
    if (WaitForSingleObject(child.process.get(), kPollIntervalMs) == WAIT_OBJECT_0) return true;
    if (GetTickCount64() >= deadline) return false;
  }
}

void printSeenWindows(const std::vector<SeenWindow>& seen) {
  printLine("windows=" + std::to_string(seen.size()));
  for (const SeenWindow& w : seen) printLine("window " + describeName(w.cls, w.caption));
}

// ---------------------------------------------------------------------------
// Commands

int cmdWaitWindow(Args args) {
  const DWORD timeout = parseTimeout(args[2]);
  HWND found = nullptr;
  if (!pollUntil(timeout, [&] { return (found = lookupWindow(args[0], args[1])) != nullptr; })) {
    throw Failure{"timed out waiting for " + describeName(args[0], args[1])};
  }
  printLine(hwndHex(found));
  return kExitOk;
}

int cmdWaitGone(Args args) {
  const DWORD timeout = parseTimeout(args[2]);
  if (!pollUntil(timeout, [&] { return lookupWindow(args[0], args[1]) == nullptr; })) {
    throw Failure{"still there: " + describeName(args[0], args[1])};
  }
  return kExitOk;
}

int cmdText(Args args) {
  writeRaw(windowText(requireTarget(args)));
  return kExitOk;
}

int cmdHex(Args args) {
  printLine(toHex(windowText(requireTarget(args))));
  return kExitOk;
}

int cmdButtons(Args args) {
  for (HWND child : directChildren(requireWindow(args[0], args[1]))) {
    if (!isClass(child, kButtonClass)) continue;
    printLine(std::to_string(GetDlgCtrlID(child)) + " " + windowText(child));
  }
  return kExitOk;
}

int cmdIcon(Args args) {
  const HWND control = findIconControl(requireWindow(args[0], args[1]));
  printLine(control ? identifyIcon(control) : "none");
  return kExitOk;
}

// The click is sent, not posted: the call returns once the button has handled it,
// so the box is already closing, and a click that could not be delivered is
// reported rather than lost. A button whose handler opens another modal window
// keeps the call waiting; after kClickWaitMs the click counts as delivered.
// A real click, as the person at the machine makes it: the pointer moved onto the control's
// centre and the left button pressed and released there, all through SendInput, so every
// low-level hook of the desktop sees it (and may swallow it). Whether it worked is for the
// caller to see (the box gone, or not).
constexpr LONG kAbsoluteInputRange = 65535;
int cmdPress(Args args) {
  const HWND control = requireControl(requireWindow(args[0], args[1]), parseControlId(args[2]));
  RECT rect;
  if (!GetWindowRect(control, &rect)) throw Failure{"GetWindowRect failed"};
  const int width = GetSystemMetrics(SM_CXSCREEN);
  const int height = GetSystemMetrics(SM_CYSCREEN);
  INPUT inputs[3] = {};
  for (INPUT& input : inputs) input.type = INPUT_MOUSE;
  inputs[0].mi.dx = MulDiv((rect.left + rect.right) / 2, kAbsoluteInputRange, width - 1);
  inputs[0].mi.dy = MulDiv((rect.top + rect.bottom) / 2, kAbsoluteInputRange, height - 1);
  inputs[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  inputs[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  inputs[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  if (SendInput(3, inputs, sizeof(INPUT)) != 3) throw Failure{"SendInput failed"};
  return kExitOk;
}

int cmdClick(Args args) {
  const int id = parseControlId(args[2]);
  const HWND button = requireControl(requireWindow(args[0], args[1]), id);
  DWORD_PTR result = 0;
  if (SendMessageTimeoutA(button, BM_CLICK, 0, 0, SMTO_NORMAL, kClickWaitMs, &result)) {
    return kExitOk;
  }
  const DWORD error = GetLastError();
  if (error != ERROR_TIMEOUT) {
    throw Failure{"BM_CLICK was not delivered (error " + std::to_string(error) + ")"};
  }
  std::fputs("wintest click: delivered; the button was still busy with it\n", stderr);
  return kExitOk;
}

int cmdWindowInfo(Args args) {
  const HWND hwnd = requireWindow(args[0], args[1]);
  const DWORD style = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE));
  const DWORD exStyle = static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE));
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  printLine("pid=" + std::to_string(windowProcessId(hwnd)));
  printLine("style=" + hexValue(style, 8));
  printLine("exstyle=" + hexValue(exStyle, 8));
  printLine("rect=" + std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
            std::to_string(rect.right) + "," + std::to_string(rect.bottom));
  printLine(std::string("visible=") + (IsWindowVisible(hwnd) ? "1" : "0"));
  printLine(std::string("topmost=") + ((exStyle & WS_EX_TOPMOST) ? "1" : "0"));
  printLine("caption=" + windowText(hwnd));
  return kExitOk;
}

// The seen windows are printed after "timeout" too: they tell what the program was
// waiting on.
int cmdRun(Args args) {
  const DWORD timeout = parseTimeout(args[0]);
  const Process child =
      startProcess(buildCommandLine(args[1], args.size() > 2 ? args[2] : nullptr));
  std::vector<SeenWindow> seen;
  if (!watchUntilExit(child, timeout, seen)) {
    TerminateProcess(child.process.get(), kExitFailed);
    WaitForSingleObject(child.process.get(), kTerminateWaitMs);
    printLine("timeout");
    printSeenWindows(seen);
    return kExitFailed;
  }
  DWORD exitCode = 0;
  GetExitCodeProcess(child.process.get(), &exitCode);
  printLine("exit=" + std::to_string(exitCode));
  printSeenWindows(seen);
  return kExitOk;
}

int cmdScreenshot(Args args) {
  const Canvas screen = captureScreen();
  writeBmp(args[0], screen);
  printLine(std::to_string(screen.width()) + "x" + std::to_string(screen.height()) + " " +
            args[0]);
  return kExitOk;
}

int cmdListWindows(Args) {
  for (HWND hwnd : visibleTopLevelWindows()) {
    printLine(hwndHex(hwnd) + " " + std::to_string(windowProcessId(hwnd)) + " " +
              describeName(className(hwnd), windowText(hwnd)));
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------
// z-order

// Where a window stands among the top-level windows, top first (EnumWindows' order); -1 when
// it is not there.
int zPosition(HWND hwnd) {
  std::vector<HWND> windows;
  EnumWindows(appendWindow, reinterpret_cast<LPARAM>(&windows));
  const auto found = std::find(windows.begin(), windows.end(), hwnd);
  return found == windows.end() ? -1 : static_cast<int>(found - windows.begin());
}

// The first visible top-level window other than `except` whose caption contains `part`.
HWND windowWithCaptionPart(std::string_view part, HWND except) {
  for (HWND hwnd : visibleTopLevelWindows()) {
    if (hwnd != except && windowText(hwnd).find(part) != std::string::npos) return hwnd;
  }
  return nullptr;
}

// Waits for a window whose caption contains CAPTION_PART to appear beside the window
// CLASS|CAPTION, then for that window to stand above it in the z-order, and watches the order
// for WATCH_MS more. Prints appeared=0|1, the newcomer's class, above_after_ms (from the first
// look that saw the newcomer to the first that saw the window above it, or "never") and
// below_after_looks, how many later looks found the window below the newcomer.
int cmdAboveWatch(Args args) {
  const HWND owner = requireWindow(args[0], args[1]);
  const std::string_view part = args[2];
  const DWORD waitMs = parseTimeout(args[3]);
  const DWORD watchMs = parseNumber(args[4], "WATCH_MS");
  HWND newcomer = nullptr;
  pollUntil(waitMs, [&] { return (newcomer = windowWithCaptionPart(part, owner)) != nullptr; });
  if (newcomer == nullptr) {
    printLine("appeared=0");
    return kExitFailed;
  }
  const ULONGLONG seen = GetTickCount64();
  printLine("appeared=1");
  printLine("class=" + className(newcomer));
  const auto ownerAbove = [&] {
    const int ownerAt = zPosition(owner);
    const int newcomerAt = zPosition(newcomer);
    return ownerAt >= 0 && newcomerAt >= 0 && ownerAt < newcomerAt;
  };
  if (pollUntil(watchMs, ownerAbove)) {
    printLine("above_after_ms=" + std::to_string(GetTickCount64() - seen));
  } else {
    printLine("above_after_ms=never");
  }
  int below = 0;
  const ULONGLONG end = seen + watchMs;
  while (GetTickCount64() < end && IsWindow(newcomer) && IsWindow(owner)) {
    if (!ownerAbove()) ++below;
    Sleep(kPollIntervalMs);
  }
  printLine("below_after_looks=" + std::to_string(below));
  return kExitOk;
}

// Whether the process that owns the window CLASS|CAPTION runs under WoW64, as that process's
// own IsWow64Process answers for it: "wow64=yes" or "wow64=no".
int cmdWindowWow64(Args args) {
  const HWND hwnd = requireWindow(args[0], args[1]);
  const UniqueHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, windowProcessId(hwnd)));
  if (!process) throw Failure{"OpenProcess failed (error " + std::to_string(GetLastError()) + ")"};
  BOOL wow64 = FALSE;
  if (!IsWow64Process(process.get(), &wow64)) {
    throw Failure{"IsWow64Process failed (error " + std::to_string(GetLastError()) + ")"};
  }
  printLine(std::string("wow64=") + (wow64 ? "yes" : "no"));
  return kExitOk;
}

// Shows a message box and prints the id of the button that closed it: a known box
// for checking the other commands against.
int cmdMsgbox(Args args) {
  const UINT flags = static_cast<UINT>(parseNumber(args[2], "FLAGS"));
  const int answer = MessageBoxA(nullptr, args[0], args[1], flags);
  printLine(std::to_string(answer));
  return kExitOk;
}

// Writes this process's command line to a file: shows what `run` really passed.
int cmdWriteCmdline(Args args) {
  const UniqueHandle out = createOutputFile(args[0]);
  const std::string_view line = GetCommandLineA();
  writeAll(out.get(), line.data(), line.size());
  return kExitOk;
}

// The locale Windows programs here see, to check which one the prefix runs in.
int cmdSystemLocale(Args) {
  printLine("langid=" + hexValue(GetSystemDefaultLangID(), 4));
  printLine("lcid=" + hexValue(GetSystemDefaultLCID(), 4));
  printLine("acp=" + std::to_string(GetACP()));
  return kExitOk;
}

// What a process of this build sees of the Windows it runs on: its own width, whether it runs
// under WoW64 (a 32-bit process on 64-bit Windows), the machine's own architecture, its system
// folder, the 32-bit system folder of a 64-bit Windows ("none" on a 32-bit one) and its program
// files folder.
int cmdProcessView(Args) {
  BOOL wow64 = FALSE;
  if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
    throw Failure{"IsWow64Process failed (error " + std::to_string(GetLastError()) + ")"};
  }
  SYSTEM_INFO native{};
  GetNativeSystemInfo(&native);
  const auto folder = [](UINT(WINAPI * get)(LPSTR, UINT)) -> std::string {
    char path[MAX_PATH] = {};
    const UINT length = get(path, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::string("none") : std::string(path, length);
  };
  char programFiles[MAX_PATH] = {};
  const DWORD programFilesLength = GetEnvironmentVariableA("ProgramFiles", programFiles, MAX_PATH);
  printLine("bits=" + std::to_string(sizeof(void*) * CHAR_BIT));
  printLine(std::string("wow64=") + (wow64 ? "yes" : "no"));
  printLine(std::string("native=") +
            (native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_AMD64  ? "amd64"
             : native.wProcessorArchitecture == PROCESSOR_ARCHITECTURE_INTEL ? "x86"
                                                                             : "other"));
  printLine("system=" + folder(GetSystemDirectoryA));
  printLine("system_wow64=" + folder(GetSystemWow64DirectoryA));
  printLine("program_files=" + (programFilesLength == 0 || programFilesLength >= MAX_PATH
                                    ? std::string("none")
                                    : std::string(programFiles, programFilesLength)));
  return kExitOk;
}

// The ids of the prefix's processes that run the program IMAGE_NAME (a file name such as
// Brindle.exe, any case). Wine 8's tasklist.exe is a stub that prints nothing.
std::vector<DWORD> processesRunning(std::string_view imageName) {
  const HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (raw == INVALID_HANDLE_VALUE) {
    throw Failure{"CreateToolhelp32Snapshot failed (error " + std::to_string(GetLastError()) + ")"};
  }
  const UniqueHandle snapshot(raw);
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  std::vector<DWORD> ids;
  for (BOOL more = Process32First(snapshot.get(), &entry); more;
       more = Process32Next(snapshot.get(), &entry)) {
    if (equalIgnoringCase(entry.szExeFile, imageName)) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

// How many processes of the prefix run the program IMAGE_NAME.
int cmdProcessCount(Args args) {
  printLine(std::to_string(processesRunning(args[0]).size()));
  return kExitOk;
}

// Starts a thread at START in every process of the prefix that runs IMAGE_NAME; how many started.
int startThreadsIn(std::string_view imageName, LPTHREAD_START_ROUTINE start) {
  constexpr DWORD kAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                            PROCESS_VM_WRITE | PROCESS_VM_READ;
  int started = 0;
  for (const DWORD id : processesRunning(imageName)) {
    const UniqueHandle process(OpenProcess(kAccess, FALSE, id));
    if (!process) continue;
    const UniqueHandle thread(CreateRemoteThread(process.get(), nullptr, 0, start, nullptr, 0, nullptr));
    if (thread) ++started;
  }
  return started;
}

// Starts, in every process of the prefix that runs IMAGE_NAME, a thread at an address where no
// code is: the process faults as it would on a bug of its own. Prints how many were started.
int cmdFaultThread(Args args) {
  constexpr uintptr_t kUnmappedAddress = 0x10;
  printLine(std::to_string(startThreadsIn(args[0], reinterpret_cast<LPTHREAD_START_ROUTINE>(kUnmappedAddress))));
  return kExitOk;
}

// Starts, in every process of the prefix that runs IMAGE_NAME, a thread in the C run-time's
// abort, as a failed check of the program's own would call it. msvcrt.dll, a system DLL, sits
// at the same address in every process of the prefix, so its address here is its address
// there. Prints how many were started.
int cmdAbortThread(Args args) {
  const HMODULE runTime = GetModuleHandleA("msvcrt.dll");
  const FARPROC abortAddress = runTime != nullptr ? GetProcAddress(runTime, "abort") : nullptr;
  if (abortAddress == nullptr) throw Failure{"msvcrt.dll's abort not found"};
  printLine(std::to_string(startThreadsIn(
      args[0], reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void (*)()>(abortAddress)))));
  return kExitOk;
}

// Starts, in every process of the prefix that runs IMAGE_NAME, a thread at RVA (hex) of that
// program's own image, as a call of the program's own would reach the function there (the test
// reads the address from the image's debug copy). Prints how many were started.
int cmdThreadAt(Args args) {
  constexpr DWORD kAccess = PROCESS_CREATE_THREAD | PROCESS_QUERY_INFORMATION | PROCESS_VM_OPERATION |
                            PROCESS_VM_WRITE | PROCESS_VM_READ;
  const uintptr_t rva = static_cast<uintptr_t>(std::strtoull(std::string(args[1]).c_str(), nullptr, 16));
  if (rva == 0) throw UsageError{"RVA must be a non-zero hexadecimal number"};
  int started = 0;
  for (const DWORD id : processesRunning(args[0])) {
    const HANDLE raw = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, id);
    if (raw == INVALID_HANDLE_VALUE) continue;
    const UniqueHandle modules(raw);
    MODULEENTRY32 image{};
    image.dwSize = sizeof image;
    if (!Module32First(modules.get(), &image)) continue;  // the first module is the program's image
    const UniqueHandle process(OpenProcess(kAccess, FALSE, id));
    if (!process) continue;
    const auto start = reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<uintptr_t>(image.modBaseAddr) + rva);
    const UniqueHandle thread(CreateRemoteThread(process.get(), nullptr, 0, start, nullptr, 0, nullptr));
    if (thread) ++started;
  }
  printLine(std::to_string(started));
  return kExitOk;
}

// Asks the window whether the Windows session may end, as Windows asks every top-level window
// at a log-off, shut-down or restart: WM_QUERYENDSESSION sent (not posted) with wParam 0 and the
// given lParam (0 for a shut-down or restart, ENDSESSION_LOGOFF, ENDSESSION_CLOSEAPP). Prints
// the window's answer: 1 agrees, 0 refuses.
int cmdQueryEndSession(Args args) {
  const HWND window = requireWindow(args[0], args[1]);
  const LPARAM lParam = static_cast<LPARAM>(parseNumber(args[2], "LPARAM"));
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, WM_QUERYENDSESSION, 0, lParam, SMTO_NORMAL, kSendTimeoutMs, &answer)) {
    throw Failure{"WM_QUERYENDSESSION got no answer (error " + std::to_string(GetLastError()) + ")"};
  }
  printLine(std::to_string(answer));
  return kExitOk;
}

// Tells the window how the session end it was asked about turned out, as Windows does after
// every window has answered: WM_ENDSESSION sent with wParam ENDING (1 the session ends, 0 it was
// called off: another window refused, or the user chose Cancel) and the query's lParam.
int cmdEndSession(Args args) {
  const HWND window = requireWindow(args[0], args[1]);
  const WPARAM ending = static_cast<WPARAM>(parseNumber(args[2], "ENDING"));
  const LPARAM lParam = static_cast<LPARAM>(parseNumber(args[3], "LPARAM"));
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, WM_ENDSESSION, ending, lParam, SMTO_NORMAL, kSendTimeoutMs, &answer)) {
    throw Failure{"WM_ENDSESSION got no answer (error " + std::to_string(GetLastError()) + ")"};
  }
  printLine("sent");
  return kExitOk;
}

struct Command {
  std::string_view name;
  std::string_view params;  // for the usage text
  size_t minArgs;
  size_t maxArgs;
  int (*run)(Args args);
};

constexpr Command kCommands[] = {
    {"wait-window", "CLASS CAPTION TIMEOUT_MS", 3, 3, cmdWaitWindow},
    {"wait-gone", "CLASS CAPTION TIMEOUT_MS", 3, 3, cmdWaitGone},
    {"text", "CLASS CAPTION [CTRL_ID]", 2, 3, cmdText},
    {"hex", "CLASS CAPTION [CTRL_ID]", 2, 3, cmdHex},
    {"buttons", "CLASS CAPTION", 2, 2, cmdButtons},
    {"icon", "CLASS CAPTION", 2, 2, cmdIcon},
    {"click", "CLASS CAPTION CTRL_ID", 3, 3, cmdClick},
    {"press", "CLASS CAPTION CTRL_ID", 3, 3, cmdPress},
    {"window-info", "CLASS CAPTION", 2, 2, cmdWindowInfo},
    {"run", "TIMEOUT_MS EXE_PATH [ARGS_TEXT]", 2, 3, cmdRun},
    {"screenshot", "OUT.bmp", 1, 1, cmdScreenshot},
    {"list-windows", "", 0, 0, cmdListWindows},
    {"msgbox", "TEXT CAPTION FLAGS", 3, 3, cmdMsgbox},
    {"write-cmdline", "OUT_FILE", 1, 1, cmdWriteCmdline},
    {"system-locale", "", 0, 0, cmdSystemLocale},
    {"process-count", "IMAGE_NAME", 1, 1, cmdProcessCount},
    {"fault-thread", "IMAGE_NAME", 1, 1, cmdFaultThread},
    {"abort-thread", "IMAGE_NAME", 1, 1, cmdAbortThread},
    {"thread-at", "IMAGE_NAME RVA", 2, 2, cmdThreadAt},
    {"process-view", "", 0, 0, cmdProcessView},
    {"query-end-session", "CLASS CAPTION LPARAM", 3, 3, cmdQueryEndSession},
    {"end-session", "CLASS CAPTION ENDING LPARAM", 4, 4, cmdEndSession},
    {"window-wow64", "CLASS CAPTION", 2, 2, cmdWindowWow64},
    {"above-watch", "CLASS CAPTION CAPTION_PART WAIT_MS WATCH_MS", 5, 5, cmdAboveWatch},
};

void printUsage(const Command* only) {
  std::fputs("usage:\n", stderr);
  for (const Command& command : kCommands) {
    if (only && only != &command) continue;
    std::fprintf(stderr, "  wintest %.*s%s%.*s\n", static_cast<int>(command.name.size()),
                 command.name.data(), command.params.empty() ? "" : " ",
                 static_cast<int>(command.params.size()), command.params.data());
  }
}

const Command* findCommand(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

int dispatch(const Command& command, Args args) {
  try {
    if (args.size() < command.minArgs || args.size() > command.maxArgs) {
      throw UsageError{"wrong number of arguments"};
    }
    return command.run(args);
  } catch (const UsageError& error) {
    std::fprintf(stderr, "wintest: %s\n", error.message.c_str());
    printUsage(&command);
    return kExitUsage;
  } catch (const Failure& failure) {
    std::fprintf(stderr, "wintest %.*s: %s\n", static_cast<int>(command.name.size()),
                 command.name.data(), failure.message.c_str());
    return kExitFailed;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Binary stdout: `text` bytes go out untouched, and lines end in a bare "\n" for
  // the shell scripts that read them.
  _setmode(_fileno(stdout), _O_BINARY);
  const Command* command = argc > 1 ? findCommand(argv[1]) : nullptr;
  if (!command) {
    if (argc > 1) std::fprintf(stderr, "wintest: unknown command %s\n", argv[1]);
    printUsage(nullptr);
    return kExitUsage;
  }
  const int status = dispatch(*command, Args(argv + 2, static_cast<size_t>(argc - 2)));
  std::fflush(stdout);
  return status;
}
