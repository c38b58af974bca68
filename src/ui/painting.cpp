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

void FramePictures::Prepare(win::HDC screen, bool korean) {
  if (korean != korean_) Release();
  korean_ = korean;
  const win::HINSTANCE self = win::AfxGetInstanceHandle();
  // After a locale change, and after a frame that missed a part, everything was released: the
  // strip below is always saved from the picture just loaded.
  if (!canvas_.Valid()) {
    canvas_ = win::CBitmap(win::LoadBitmapW(self, korean ? kKoreanBackgroundId : kEnglishBackgroundId));
  }
  if (!mark_.Valid()) mark_ = win::CBitmap(win::LoadBitmapW(self, kProgressMarkId));
  if (!canvasContext_.Valid()) canvasContext_ = win::CDC(win::CreateCompatibleDC(screen));
  if (!rowsContext_.Valid()) rowsContext_ = win::CDC(win::CreateCompatibleDC(screen));
  if (!markContext_.Valid()) markContext_ = win::CDC(win::CreateCompatibleDC(screen));
  if (!canvasSelection_) {
    canvasSelection_.emplace(canvasContext_.Get(), canvas_.Get());
    if (!canvasSelection_->Selected()) MarkSpoilt();
  }
  if (!markSelection_) {
    markSelection_.emplace(markContext_.Get(), mark_.Get());
    if (!markSelection_->Selected()) MarkSpoilt();
  }
  if (!rows_.Valid() && canvas_.Valid()) {
    rows_ = win::CBitmap(win::CreateCompatibleBitmap(screen, kPictureWidth, kChangingRowsHeight));
    rowsSelection_.emplace(rowsContext_.Get(), rows_.Get());
    // Saved while the canvas is still the picture as loaded.
    if (!rowsSelection_->Selected() ||
        win::BitBlt(rowsContext_.Get(), 0, 0, kPictureWidth, kChangingRowsHeight, canvasContext_.Get(), 0,
                    kChangingRowsTop, win::SRCCOPY) == win::FALSE) {
      MarkSpoilt();
    }
  }
}

bool FramePictures::Complete() const {
  return !spoilt_ && canvas_.Valid() && rows_.Valid() && mark_.Valid() && canvasContext_.Valid() &&
         rowsContext_.Valid() && markContext_.Valid();
}

void FramePictures::Release() {
  markSelection_.reset();
  rowsSelection_.reset();
  canvasSelection_.reset();
  markContext_.Close();
  rowsContext_.Close();
  canvasContext_.Close();
  mark_.Close();
  rows_.Close();
  canvas_.Close();
  spoilt_ = false;
}

void PaintFrame(win::HWND window, FramePictures& pictures, int animationCounter, const std::string& statusText) {
  win::CClientDC screen(window);
  if (screen.Get() == nullptr) {
    win::ValidateRect(window, nullptr);
    return;
  }
  // Asked once: the picture and the text row follow the same answer.
  const bool korean = IsKoreanSystemLocale();
  pictures.Prepare(screen.Get(), korean);
  const win::HDC canvas = pictures.Canvas();

  const PictureOrigin origin =
      PictureOriginFor(win::GetSystemMetrics(win::SM_CXSCREEN), win::GetSystemMetrics(win::SM_CYSCREEN));
  // A copy that fails leaves the canvas as it is not meant to be (an old mark, no clean band):
  // the next frame starts from a fresh picture.
  const auto copied = [&](win::BOOL result) {
    if (result == win::FALSE) pictures.MarkSpoilt();
  };
  copied(win::BitBlt(canvas, 0, kChangingRowsTop, kPictureWidth, kChangingRowsHeight, pictures.CleanRows(), 0, 0,
                     win::SRCCOPY));
  const MarkPlacement placement = MarkGeometry(animationCounter);
  if (placement.width > 0) {
    copied(win::BitBlt(canvas, placement.destinationX, kMarkRow, placement.width, kMarkHeight, pictures.Mark(),
                       placement.sourceX, 0, win::SRCCOPY));
  }
  win::SetTextColor(canvas, kStatusTextColor);
  win::SetBkMode(canvas, win::TRANSPARENT);
  const int top = korean ? kKoreanStatusTop : kEnglishStatusTop;
  win::RECT row{0, top, kPictureWidth, top + kStatusRowHeight};
  if (!statusText.empty()) {
    win::DrawTextA(canvas, statusText.c_str(), static_cast<int>(statusText.size()), &row, win::DT_CENTER);
  }
  copied(win::BitBlt(screen.Get(), origin.x, origin.y, kPictureWidth, kPictureHeight, canvas, 0, 0, win::SRCCOPY));
  if (!pictures.Complete()) pictures.Release();
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
