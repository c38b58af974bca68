#include "ui/painting.h"

#include <algorithm>

#include "platform/framework.h"
#include "platform/gdi.h"
#include "platform/services.h"
#include "ui/texts.h"

namespace ui {
namespace {

constexpr int kTrackStart = 255;     // the mark's x at counter 0
constexpr int kTrackEnd = 379;       // where a mark past the track is placed
constexpr int kStep = 4;             // pixels per animation frame
constexpr int kLastCounter = 31;

}  // namespace

MarkPlacement MarkGeometry(int counter) {
  const int advance = kStep * counter;
  if (counter <= 0) return {kTrackStart, 0, 0};
  const int destinationX = advance >= kTrackEnd - kTrackStart ? kTrackEnd : kTrackStart + advance;
  if (advance <= kMarkWidth) return {destinationX, advance, kMarkWidth - advance};
  return {destinationX, std::min(kStep * (kLastCounter - counter), kMarkWidth), 0};
}

PictureOrigin PictureOriginFor(int screenWidth, int screenHeight) {
  return {(screenWidth - kPictureWidth) / 2, (screenHeight - kPictureHeight) / 2};
}

void PaintFrame(win::HWND window, int animationCounter, const std::string& statusText) {
  win::CClientDC screen(window);
  if (screen.Get() == nullptr) {
    win::ValidateRect(window, nullptr);
    return;
  }
  // Asked once: the picture and the text row follow the same answer.
  const bool korean = IsKoreanSystemLocale();
  const win::HINSTANCE self = win::AfxGetInstanceHandle();
  win::CBitmap background(win::LoadBitmapW(self, korean ? kKoreanBackgroundId : kEnglishBackgroundId));
  win::CBitmap mark(win::LoadBitmapW(self, kProgressMarkId));
  win::CDC canvas(win::CreateCompatibleDC(screen.Get()));
  win::CDC markContext(win::CreateCompatibleDC(screen.Get()));
  // Declared last, undone first: the objects go back into their contexts before anything is
  // deleted.
  win::CSelectObjectGuard canvasSelection(canvas.Get(), background.Get());
  win::CSelectObjectGuard markSelection(markContext.Get(), mark.Get());

  const PictureOrigin origin =
      PictureOriginFor(win::GetSystemMetrics(win::SM_CXSCREEN), win::GetSystemMetrics(win::SM_CYSCREEN));
  const MarkPlacement placement = MarkGeometry(animationCounter);
  if (placement.width > 0) {
    win::BitBlt(canvas.Get(), placement.destinationX, kMarkRow, placement.width, kMarkHeight, markContext.Get(),
                placement.sourceX, 0, win::SRCCOPY);
  }
  win::SetTextColor(canvas.Get(), kStatusTextColor);
  win::SetBkMode(canvas.Get(), win::TRANSPARENT);
  const int top = korean ? kKoreanStatusTop : kEnglishStatusTop;
  win::RECT row{0, top, kPictureWidth, top + kStatusRowHeight};
  if (!statusText.empty()) {
    win::DrawTextA(canvas.Get(), statusText.c_str(), static_cast<int>(statusText.size()), &row, win::DT_CENTER);
  }
  win::BitBlt(screen.Get(), origin.x, origin.y, kPictureWidth, kPictureHeight, canvas.Get(), 0, 0, win::SRCCOPY);
}

void PaintIcon(win::HWND window, win::HICON icon) {
  win::CPaintDC paint(window);
  win::SendMessageA(window, win::WM_ICONERASEBKGND, reinterpret_cast<win::WPARAM>(paint.Get()), 0);
  win::RECT client;
  win::GetClientRect(window, &client);
  const int x = (client.right - client.left - win::GetSystemMetrics(win::SM_CXICON) + 1) / 2;
  const int y = (client.bottom - client.top - win::GetSystemMetrics(win::SM_CYICON) + 1) / 2;
  win::DrawIcon(paint.Get(), x, y, icon);
}

}  // namespace ui
