// The painted window on the simulated machine: where the picture, the mark and the text go,
// that no repaint asks for erasing, and that every frame releases what it made.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "sim_fixture.h"
#include "ui/painting.h"
#include "ui/texts.h"

namespace {

using namespace testing_support;

constexpr win::UINT kCtlColorDlg = 0x0136;
const std::string kCleanRows = "bitmap 640x" + std::to_string(ui::kChangingRowsHeight);

class PaintingTest : public SimTest {
 protected:
  static sim::ProcessResult RunRefusal() {
    machine().wmi.biosVersions = {u"47K31RC1"};
    machine().windows.ScriptAnswer(win::IDYES);
    return sim::RunProcess("");
  }
  // Runs `body` with a window of the controller's template that no dialog object owns.
  static void WithBareWindow(const std::function<void(win::HWND)>& body) {
    sim::RunProcess([&] {
      const win::HWND window = machine().windows.Create(102, nullptr);
      body(window);
      machine().windows.Destroy(window);
      return 0;
    });
  }
};

struct ScreenCase {
  int width;
  int height;
  int x0;
  int y0;
};

TEST_F(PaintingTest, PictureIsCopiedInOneTransferToTheCentreOfEachScreen) {
  for (const ScreenCase& c : {ScreenCase{640, 480, 0, 0}, ScreenCase{1024, 768, 192, 144}, ScreenCase{1023, 767, 191, 143}}) {
    sim::ResetMachine();
    SimTest::SetUp();
    machine().windows.SetScreenSize(c.width, c.height);
    RunRefusal();
    int frames = 0;
    for (const sim::Blit& blit : machine().gdi.Blits()) {
      if (!blit.toWindow) continue;
      ++frames;
      EXPECT_EQ(std::tie(blit.x, blit.y, blit.cx, blit.cy, blit.sourceX, blit.sourceY),
                std::make_tuple(c.x0, c.y0, ui::kPictureWidth, ui::kPictureHeight, 0, 0));
      EXPECT_EQ(blit.source, "bitmap 135");
    }
    EXPECT_GT(frames, 100) << c.width;  // ten frames a second for about 12 s
    EXPECT_EQ(machine().windows.WindowsCreated()[0].rect.right, c.width);
  }
}

TEST_F(PaintingTest, NoRepaintAsksForErasingAndEveryFrameReleasesWhatItMade) {
  RunRefusal();
  EXPECT_EQ(machine().windows.PaintsWithErase(), 0);
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.name == "InvalidateRect") {
      EXPECT_EQ(r.args[0], sim::Arg(0));
    }
  }
  EXPECT_EQ(machine().gdi.LiveTotal(), 0);
  EXPECT_EQ(machine().CountCalls("CreateCompatibleDC"), machine().CountCalls("DeleteDC"));
  EXPECT_EQ(machine().CountCalls("GetDC"), machine().CountCalls("ReleaseDC"));
}

TEST_F(PaintingTest, MarkIsDrawnOnlyInsideTheTrackAsTheGeometrySays) {
  RunRefusal();
  std::set<int> counters;
  for (const sim::Blit& blit : machine().gdi.Blits()) {
    if (blit.source != "bitmap 132") continue;
    EXPECT_EQ(blit.y, ui::kMarkRow);
    EXPECT_EQ(blit.cy, ui::kMarkHeight);
    bool matches = false;
    for (int c = 1; c < 32; ++c) {
      const ui::MarkPlacement p = ui::MarkGeometry(c);
      if (p.width > 0 && p.destinationX == blit.x && p.width == blit.cx && p.sourceX == blit.sourceX) {
        matches = true;
        counters.insert(c);
      }
    }
    EXPECT_TRUE(matches) << blit.x << " " << blit.cx;
  }
  EXPECT_EQ(counters.size(), 30u);  // every frame that draws a mark was seen: 1 to 30
}

TEST_F(PaintingTest, TextIsWhiteTransparentCentredInTheLocalesRow) {
  for (const bool korean : {false, true}) {
    sim::ResetMachine();
    SimTest::SetUp();
    if (korean) SetKorean();
    RunRefusal();
    ASSERT_FALSE(machine().gdi.TextsDrawn().empty());
    for (const sim::DrawnText& text : machine().gdi.TextsDrawn()) {
      EXPECT_EQ(text.rect.top, korean ? 300 : 310);
      EXPECT_EQ(text.rect.bottom - text.rect.top, 25);
      EXPECT_EQ(text.rect.left, 0);
      EXPECT_EQ(text.rect.right, 640);
      EXPECT_EQ(text.format, 1u);  // DT_CENTER alone
      EXPECT_EQ(text.color, 0xFFFFFFu);
      EXPECT_EQ(text.backgroundMode, 1);  // TRANSPARENT
    }
    for (const sim::Blit& blit : machine().gdi.Blits()) {
      if (blit.toWindow) {
        EXPECT_EQ(blit.source, korean ? "bitmap 134" : "bitmap 135");
      }
    }
  }
}

TEST_F(PaintingTest, EmptyStatusTextDrawsNoTextButThePictureAndTheMark) {
  WithBareWindow([](win::HWND window) {
    ui::FramePictures pictures;
    ui::PaintFrame(window, pictures, 10, "");
  });
  EXPECT_TRUE(machine().gdi.TextsDrawn().empty());
  // The clean rows saved from the picture, put back, the mark, the frame to the window.
  ASSERT_EQ(machine().gdi.Blits().size(), 4u);
  EXPECT_EQ(machine().gdi.Blits()[0].source, "bitmap 135");
  EXPECT_EQ(machine().gdi.Blits()[1].source, kCleanRows);
  EXPECT_EQ(machine().gdi.Blits()[2].source, "bitmap 132");
  EXPECT_TRUE(machine().gdi.Blits()[3].toWindow);
  EXPECT_EQ(machine().gdi.LiveTotal(), 0);
}

// The pictures are loaded once for a whole run, and every frame starts by putting back the clean
// rows under the mark and both locales' text rows, so the previous frame's mark and text never
// show through.
TEST_F(PaintingTest, PicturesAreLoadedOnceAndEachFrameStartsFromTheCleanRows) {
  RunRefusal();
  EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 2);
  EXPECT_EQ(machine().gdi.LiveTotal(), 0);
  EXPECT_LE(ui::kChangingRowsTop, std::min(ui::kKoreanStatusTop, ui::kEnglishStatusTop));
  EXPECT_GE(ui::kChangingRowsTop + ui::kChangingRowsHeight, ui::kMarkRow + ui::kMarkHeight);
  EXPECT_GE(ui::kChangingRowsTop + ui::kChangingRowsHeight,
            std::max(ui::kKoreanStatusTop, ui::kEnglishStatusTop) + ui::kStatusRowHeight);
  const std::vector<sim::Blit>& blits = machine().gdi.Blits();
  bool refreshed = false;
  int frames = 0;
  for (const sim::Blit& blit : blits) {
    if (blit.source == kCleanRows) {
      EXPECT_EQ(std::tie(blit.x, blit.y, blit.cx, blit.cy),
                std::make_tuple(0, ui::kChangingRowsTop, ui::kPictureWidth, ui::kChangingRowsHeight));
      refreshed = true;
    } else if (blit.toWindow) {
      EXPECT_TRUE(refreshed) << "frame " << frames << " drawn over the previous one";
      refreshed = false;
      ++frames;
    }
  }
  EXPECT_GT(frames, 100);
}

// A picture that cannot be loaded costs that frame its picture, not the run: everything made is
// released and the next frame loads again.
TEST_F(PaintingTest, AFrameWithAMissingPictureReleasesTheRestAndTheNextFrameLoadsAgain) {
  machine().FailCall("LoadBitmapW", {.occurrence = 1});
  WithBareWindow([](win::HWND window) {
    ui::FramePictures pictures;
    ui::PaintFrame(window, pictures, 10, "text");
    EXPECT_EQ(machine().gdi.LiveTotal(), 0);
    EXPECT_FALSE(pictures.Complete());
    ui::PaintFrame(window, pictures, 11, "text");
    EXPECT_TRUE(pictures.Complete());
  });
  EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 4);
  EXPECT_EQ(machine().gdi.LiveTotal(), 0);
}

TEST_F(PaintingTest, WindowWithoutADrawingContextIsMarkedPaintedAndLeft) {
  machine().FailCall("GetDC");
  WithBareWindow([](win::HWND window) {
    ui::FramePictures pictures;
    ui::PaintFrame(window, pictures, 10, "text");
  });
  EXPECT_EQ(machine().CountCalls("ValidateRect"), 1);
  EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 0);
  EXPECT_TRUE(machine().gdi.Blits().empty());
}

TEST_F(PaintingTest, MinimisedWindowShowsOnlyTheCentredIcon) {
  WithBareWindow([](win::HWND window) {
    machine().windows.Find(window)->rect = win::RECT{0, 0, 160, 100};
    ui::PaintIcon(window, reinterpret_cast<win::HICON>(static_cast<std::uintptr_t>(0x1280)));
  });
  EXPECT_EQ(machine().FirstCall("DrawIcon").args, (std::vector<sim::Arg>{(160 - 32 + 1) / 2, (100 - 32 + 1) / 2}));
  EXPECT_EQ(machine().CountCalls("BeginPaint"), 1);
  EXPECT_EQ(machine().CountCalls("EndPaint"), 1);
  EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 0);
}

TEST_F(PaintingTest, BackgroundBrushIsMadeOnceAndGoesWithTheWindow) {
  machine().windows.ScheduleMessage({2000, kCtlColorDlg, 0, 0});
  machine().windows.ScheduleMessage({3000, kCtlColorDlg, 0, 0});
  RunRefusal();
  const auto& answers = machine().windows.OutsideAnswers();
  ASSERT_EQ(answers.size(), 2u);
  EXPECT_NE(answers[0].result, 0);
  EXPECT_EQ(answers[0].result, answers[1].result);
  EXPECT_EQ(machine().CountCalls("CreateSolidBrush"), 1);
  EXPECT_EQ(machine().FirstCall("SetBkColor").args, (std::vector<sim::Arg>{0}));
  EXPECT_EQ(machine().gdi.Live("brush"), 0);
}

}  // namespace
