// Painting, and the seam calls of GDI.
#include "platform/sim/gdi.h"

#include <algorithm>
#include <string>

#include "platform/services.h"
#include "platform/sim/machine.h"

namespace sim {

std::uintptr_t Gdi::Make(std::string kind, std::string name) {
  const std::uintptr_t handle = next_;
  next_ += sizeof(void*);
  objects_[handle] = Object{std::move(kind), std::move(name)};
  return handle;
}

Gdi::Object* Gdi::Find(std::uintptr_t handle) {
  const auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : &it->second;
}

bool Gdi::Release(std::uintptr_t handle) { return objects_.erase(handle) != 0; }

int Gdi::Live(const std::string& kind) const {
  return static_cast<int>(std::count_if(objects_.begin(), objects_.end(),
                                        [&](const auto& o) { return o.second.kind == kind; }));
}

}  // namespace sim

namespace win {
namespace {

sim::Machine& M() { return sim::TheMachine(); }
sim::Gdi& G() { return M().gdi; }
std::uintptr_t Key(const void* handle) { return reinterpret_cast<std::uintptr_t>(handle); }
template <typename T>
T As(std::uintptr_t handle) {
  return reinterpret_cast<T>(handle);
}

// Every context starts with the system's stock objects selected.
constexpr std::uintptr_t kStockObject = 0x10;

bool IsContext(const sim::Gdi::Object* o) { return o != nullptr && o->kind.ends_with(" dc"); }

HDC MakeContext(const char* kind) { return As<HDC>(G().Make(kind)); }

template <typename Fail>
bool Failing(const char* api, Fail&& onFailure) {
  if (const auto failure = M().Consult(api)) {
    onFailure();
    return true;
  }
  return false;
}

}  // namespace

BOOL IsIconic(HWND window) {
  const sim::Window* w = M().windows.Find(window);
  return w != nullptr && w->minimized ? TRUE : FALSE;
}

BOOL GetClientRect(HWND window, RECT* rect) {
  const sim::Window* w = M().windows.Find(window);
  if (w == nullptr) return FALSE;
  *rect = RECT{0, 0, w->rect.right - w->rect.left, w->rect.bottom - w->rect.top};
  return TRUE;
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  M().Log("BeginPaint");
  *paint = PAINTSTRUCT{};
  if (Failing("BeginPaint", [] {})) return nullptr;
  M().windows.Validate(window);
  paint->hdc = MakeContext("paint dc");
  return paint->hdc;
}

BOOL EndPaint(HWND, const PAINTSTRUCT* paint) {
  M().Log("EndPaint");
  return G().Release(Key(paint->hdc)) ? TRUE : FALSE;
}

HDC GetDC(HWND window) {
  M().Log("GetDC");
  if (M().windows.Find(window) == nullptr || Failing("GetDC", [] {})) return nullptr;
  return MakeContext("window dc");
}

int ReleaseDC(HWND, HDC dc) {
  M().Log("ReleaseDC");
  return G().Release(Key(dc)) ? 1 : 0;
}

HDC CreateCompatibleDC(HDC dc) {
  M().Log("CreateCompatibleDC");
  if (!IsContext(G().Find(Key(dc))) || Failing("CreateCompatibleDC", [] {})) return nullptr;
  return MakeContext("memory dc");
}

BOOL DeleteDC(HDC dc) {
  M().Log("DeleteDC");
  return G().Release(Key(dc)) ? TRUE : FALSE;
}

HBITMAP LoadBitmapW(HINSTANCE, int id) {
  M().Log("LoadBitmapW", {id});
  if (Failing("LoadBitmapW", [] {})) return nullptr;
  return As<HBITMAP>(G().Make("bitmap", "bitmap " + std::to_string(id)));
}

HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  M().Log("CreateCompatibleBitmap", {width, height});
  if (!IsContext(G().Find(Key(dc))) || Failing("CreateCompatibleBitmap", [] {})) return nullptr;
  return As<HBITMAP>(G().Make("bitmap", "bitmap " + std::to_string(width) + "x" + std::to_string(height)));
}

HBRUSH CreateSolidBrush(COLORREF color) {
  M().Log("CreateSolidBrush", {color});
  if (Failing("CreateSolidBrush", [] {})) return nullptr;
  return As<HBRUSH>(G().Make("brush"));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  M().Log("SelectObject");
  sim::Gdi::Object* context = G().Find(Key(dc));
  if (!IsContext(context) || Failing("SelectObject", [] {})) return nullptr;
  std::string kind = "bitmap";
  if (sim::Gdi::Object* selected = G().Find(Key(object)); selected != nullptr) kind = selected->kind;
  auto [slot, fresh] = context->selected.try_emplace(kind, kStockObject);
  const std::uintptr_t previous = slot->second;
  if (sim::Gdi::Object* old = G().Find(previous)) old->selectedInto = 0;
  slot->second = Key(object);
  if (sim::Gdi::Object* selected = G().Find(Key(object))) selected->selectedInto = Key(dc);
  return As<HGDIOBJ>(previous);
}

BOOL DeleteObject(HGDIOBJ object) {
  M().Log("DeleteObject");
  const sim::Gdi::Object* o = G().Find(Key(object));
  // An object still selected into a context cannot be deleted: it would leak.
  if (o == nullptr || o->selectedInto != 0) return FALSE;
  G().Release(Key(object));
  return TRUE;
}

BOOL BitBlt(HDC destination, int x, int y, int cx, int cy, HDC source, int sourceX, int sourceY, DWORD rop) {
  M().Log("BitBlt", {x, y, cx, cy, sourceX, sourceY, rop});
  sim::Gdi::Object* to = G().Find(Key(destination));
  sim::Gdi::Object* from = G().Find(Key(source));
  if (!IsContext(to) || !IsContext(from) || Failing("BitBlt", [] {})) return FALSE;
  std::string selected;
  if (const auto it = from->selected.find("bitmap"); it != from->selected.end()) {
    if (const sim::Gdi::Object* bitmap = G().Find(it->second)) selected = bitmap->name;
  }
  G().RecordBlit({x, y, cx, cy, sourceX, sourceY, to->kind != "memory dc", selected, M().Now()});
  return TRUE;
}

COLORREF SetTextColor(HDC dc, COLORREF color) {
  sim::Gdi::Object* context = G().Find(Key(dc));
  if (!IsContext(context)) return 0;
  return std::exchange(context->textColor, color);
}

COLORREF SetBkColor(HDC dc, COLORREF color) {
  M().Log("SetBkColor", {color});
  return IsContext(G().Find(Key(dc))) ? 0 : 0xFFFFFFFF;
}

int SetBkMode(HDC dc, int mode) {
  sim::Gdi::Object* context = G().Find(Key(dc));
  if (!IsContext(context)) return 0;
  return std::exchange(context->backgroundMode, mode);
}

int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  M().Log("DrawTextA", {std::string(text, static_cast<std::size_t>(count)), rect->top, format});
  const sim::Gdi::Object* context = G().Find(Key(dc));
  if (!IsContext(context)) return 0;
  G().RecordText({std::string(text, static_cast<std::size_t>(count)), *rect, format, context->textColor,
                  context->backgroundMode, M().Now()});
  return rect->bottom - rect->top;
}

BOOL DrawIcon(HDC, int x, int y, HICON) {
  M().Log("DrawIcon", {x, y});
  return TRUE;
}

}  // namespace win
