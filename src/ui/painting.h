// One frame of the full-screen window: the picture of the system's locale centred on a black
// screen, the progress mark sliding along its track, and the status text.
#pragma once

#include <string>

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

// Draws one frame into the window. Everything made for the frame is released before it
// returns; a window without a drawing context is marked painted and left as it is.
void PaintFrame(win::HWND window, int animationCounter, const std::string& statusText);
// The minimised window: only the icon, centred.
void PaintIcon(win::HWND window, win::HICON icon);

}  // namespace ui
