// Owners of drawing contexts and GDI objects, in the manner of WTL's atlgdi.h: an owned handle
// is released by its destructor; a borrowed one (CDCHandle) is a different type; an object
// selected into a context is selected back by a guard.
#pragma once

#include "platform/handle.h"
#include "platform/services.h"

namespace win {

// A memory drawing context made by CreateCompatibleDC.
struct MemoryDCTraits {
  using Handle = HDC;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) { return DeleteDC(h) != FALSE; }
};
using CDC = UniqueHandle<MemoryDCTraits>;

// A context that someone else owns.
struct CDCHandle {
  HDC m_hDC = nullptr;
};

template <typename Object>
struct GdiObjectTraits {
  using Handle = Object;
  static Handle None() { return nullptr; }
  static bool IsNone(Handle h) { return h == nullptr; }
  static bool Close(Handle h) { return DeleteObject(h) != FALSE; }
};
using CBitmap = UniqueHandle<GdiObjectTraits<HBITMAP>>;
using CBrush = UniqueHandle<GdiObjectTraits<HBRUSH>>;

// The window's client-area context from GetDC, released with ReleaseDC.
class CClientDC {
 public:
  explicit CClientDC(HWND window) : window_(window), dc_(GetDC(window)) {}
  ~CClientDC() {
    if (dc_ != nullptr) ReleaseDC(window_, dc_);
  }
  CClientDC(const CClientDC&) = delete;
  CClientDC& operator=(const CClientDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  HDC dc_;
};

// A paint cycle: BeginPaint now, EndPaint at the end of the scope.
class CPaintDC {
 public:
  explicit CPaintDC(HWND window) : window_(window), dc_(BeginPaint(window, &paint_)) {}
  ~CPaintDC() {
    if (dc_ != nullptr) EndPaint(window_, &paint_);
  }
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_;
  HDC dc_;
};

// Selects an object into a context and the one it replaced back at the end of the scope.
class CSelectObjectGuard {
 public:
  CSelectObjectGuard(HDC dc, HGDIOBJ object) : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~CSelectObjectGuard() {
    if (previous_ != nullptr) SelectObject(dc_, previous_);
  }
  CSelectObjectGuard(const CSelectObjectGuard&) = delete;
  CSelectObjectGuard& operator=(const CSelectObjectGuard&) = delete;
  // False when the selection failed: nothing was selected and nothing will be put back.
  bool Selected() const { return previous_ != nullptr; }

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

}  // namespace win
