// One frame of the full-screen window: the picture of the system's locale centred on a black
// screen, the progress mark sliding along its track, and the status text.
#pragma once

#include <string>

#include <optional>

#include "platform/gdi.h"
#include "platform/win_types.h"
#include "resource.h"

namespace ui {

inline constexpr int kPictureWidth = 640;
inline constexpr int kPictureHeight = 480;
inline constexpr int kKoreanBackgroundId = IDB_BACKGROUND_KOREAN;
inline constexpr int kEnglishBackgroundId = IDB_BACKGROUND_ENGLISH;
inline constexpr int kProgressMarkId = IDB_PROGRESS_MARK;
inline constexpr int kMarkWidth = 22;
inline constexpr int kMarkHeight = 9;
inline constexpr int kMarkRow = 354;
inline constexpr int kKoreanStatusTop = 300;
inline constexpr int kEnglishStatusTop = 310;
inline constexpr int kStatusRowHeight = 25;
inline constexpr win::COLORREF kStatusTextColor = 0x00FFFFFF;
inline constexpr win::COLORREF kBlack = 0x00000000;

// Where the progress mark goes for an animation counter: destination x, width (0: nothing is
// drawn) and the first column of the mark to copy.
struct MarkPlacement {
  int destinationX;
  int width;
  int sourceX;
};
MarkPlacement MarkGeometry(int counter);

// The picture's top-left corner on a screen of that size; an odd surplus goes right and down.
struct PictureOrigin {
  int x;
  int y;
};
PictureOrigin PictureOriginFor(int screenWidth, int screenHeight);

// The rows a frame changes: from the higher of the two status rows to the bottom of the mark's.
inline constexpr int kChangingRowsTop = kKoreanStatusTop < kEnglishStatusTop ? kKoreanStatusTop : kEnglishStatusTop;
inline constexpr int kChangingRowsHeight = kMarkRow + kMarkHeight - kChangingRowsTop;

// The pictures frames are drawn from, made at the first frame and kept until the window goes.
// Loading a 640x480 picture from the resources ten times a second was nearly all of the
// program's processor time while it waits on the flash tool. Frames are composed on the loaded
// picture (the canvas); the rows that the mark and the text change are kept clean in a strip
// of their own, copied back at the start of each frame, so no mark or text outlives its frame.
class FramePictures {
 public:
  FramePictures() = default;
  FramePictures(const FramePictures&) = delete;
  FramePictures& operator=(const FramePictures&) = delete;
  ~FramePictures() { Release(); }

  // Makes whatever is missing for the locale's picture (all of it anew when the locale changed).
  void Prepare(win::HDC screen, bool korean);
  // True when every picture and context was made, selected and saved; a frame drawn with a
  // part missing, or with any step failed, releases the rest, so the next frame tries again
  // from nothing.
  bool Complete() const;
  // A step of the frame failed: what is kept may no longer be the clean picture.
  void MarkSpoilt() { spoilt_ = true; }
  // Selects everything back and deletes it, contexts before pictures.
  void Release();

  win::HDC Canvas() const { return canvasContext_.Get(); }
  win::HDC CleanRows() const { return rowsContext_.Get(); }
  win::HDC Mark() const { return markContext_.Get(); }

 private:
  bool korean_ = false;
  bool spoilt_ = false;
  win::CBitmap canvas_;
  win::CBitmap rows_;
  win::CBitmap mark_;
  win::CDC canvasContext_;
  win::CDC rowsContext_;
  win::CDC markContext_;
  // Declared last, undone first: the pictures go back out of their contexts before anything
  // is deleted.
  std::optional<win::CSelectObjectGuard> canvasSelection_;
  std::optional<win::CSelectObjectGuard> rowsSelection_;
  std::optional<win::CSelectObjectGuard> markSelection_;
};

// Draws one frame into the window from the kept pictures; a window without a drawing context is
// marked painted and left as it is.
void PaintFrame(win::HWND window, FramePictures& pictures, int animationCounter, const std::string& statusText);
// The minimised window: only the icon, centred.
void PaintIcon(win::HWND window, win::HICON icon);

}  // namespace ui
