// Painting over the Windows API: one forwarding call each.
#include "platform/win32/windows_api.h"

using win32::As;

namespace win {

BOOL IsIconic(HWND window) { return ::IsIconic(As<::HWND>(window)); }

BOOL GetClientRect(HWND window, RECT* rect) {
  static_assert(sizeof(RECT) == sizeof(::RECT));
  return ::GetClientRect(As<::HWND>(window), reinterpret_cast<::RECT*>(rect));
}

HDC BeginPaint(HWND window, PAINTSTRUCT* paint) {
  static_assert(sizeof(PAINTSTRUCT) == sizeof(::PAINTSTRUCT));
  return As<HDC>(::BeginPaint(As<::HWND>(window), reinterpret_cast<::PAINTSTRUCT*>(paint)));
}

BOOL EndPaint(HWND window, const PAINTSTRUCT* paint) {
  return ::EndPaint(As<::HWND>(window), reinterpret_cast<const ::PAINTSTRUCT*>(paint));
}

HDC GetDC(HWND window) { return As<HDC>(::GetDC(As<::HWND>(window))); }

int ReleaseDC(HWND window, HDC dc) { return ::ReleaseDC(As<::HWND>(window), As<::HDC>(dc)); }

HDC CreateCompatibleDC(HDC dc) { return As<HDC>(::CreateCompatibleDC(As<::HDC>(dc))); }
HBITMAP CreateCompatibleBitmap(HDC dc, int width, int height) {
  return As<HBITMAP>(::CreateCompatibleBitmap(As<::HDC>(dc), width, height));
}

BOOL DeleteDC(HDC dc) { return ::DeleteDC(As<::HDC>(dc)); }

HBITMAP LoadBitmapW(HINSTANCE instance, int id) {
  return As<HBITMAP>(::LoadBitmapW(As<::HINSTANCE>(instance), MAKEINTRESOURCEW(id)));
}

HBRUSH CreateSolidBrush(COLORREF color) { return As<HBRUSH>(::CreateSolidBrush(color)); }

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  return As<HGDIOBJ>(::SelectObject(As<::HDC>(dc), As<::HGDIOBJ>(object)));
}

BOOL DeleteObject(HGDIOBJ object) { return ::DeleteObject(As<::HGDIOBJ>(object)); }

BOOL BitBlt(HDC destination, int x, int y, int cx, int cy, HDC source, int sourceX, int sourceY, DWORD rop) {
  return ::BitBlt(As<::HDC>(destination), x, y, cx, cy, As<::HDC>(source), sourceX, sourceY, rop);
}

COLORREF SetTextColor(HDC dc, COLORREF color) { return ::SetTextColor(As<::HDC>(dc), color); }

COLORREF SetBkColor(HDC dc, COLORREF color) { return ::SetBkColor(As<::HDC>(dc), color); }

int SetBkMode(HDC dc, int mode) { return ::SetBkMode(As<::HDC>(dc), mode); }

int DrawTextA(HDC dc, const char* text, int count, RECT* rect, UINT format) {
  return ::DrawTextA(As<::HDC>(dc), text, count, reinterpret_cast<::RECT*>(rect), format);
}

BOOL DrawIcon(HDC dc, int x, int y, HICON icon) { return ::DrawIcon(As<::HDC>(dc), x, y, As<::HICON>(icon)); }

}  // namespace win
