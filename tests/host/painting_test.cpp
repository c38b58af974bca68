// The painted window on the simulated machine: where the picture, the mark and the text go,
// that no repaint asks for erasing, and that every frame releases what it made.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "sequence.h"
#include "sim_fixture.h"
#include "ui/painting.h"

namespace {

using namespace testing_support;

constexpr win::UINT kCtlColorDlg = 0x0136;

class PaintingTest : public SimTest {
 protected:
  static sim::ProcessResult RunRefusal() {
    machine().wmi.biosVersions = {u"47K31RC1"};
    machine().windows.ScriptAnswer(win::IDYES);
    return sim::RunProcess("");
  }
  // Runs `body` with a window of the controller's template that no dialog object owns.
  static void WithBareWindow(const std::function<void(win::HWND)>& body) {
    RunInProcess([&] {
      const win::HWND window = machine().windows.Create(102, nullptr);
      body(window);
      machine().windows.Destroy(window);
    });
  }
};

TEST_F(PaintingTest, PictureIsCopiedInOneTransferToTheCentreOfEachScreen) {
  const struct {
    int width, height, x0, y0;
  } screens[] = {{640, 480, 0, 0}, {1024, 768, 192, 144}, {1023, 767, 191, 143}};
  for (const auto& c : screens) {
    SCOPED_TRACE(c.width);
    SetUp();
    machine().windows.SetScreenSize(c.width, c.height);
    RunRefusal();
    int frames = 0;
    for (const sim::Blit& blit : machine().gdi.Blits()) {
      if (!blit.toWindow) continue;
      ++frames;
      EXPECT_EQ(std::tie(blit.x, blit.y, blit.cx, blit.cy, blit.sourceX, blit.sourceY),
                std::make_tuple(c.x0, c.y0, 640, 480, 0, 0));
      EXPECT_EQ(blit.source, "bitmap 135");
    }
    EXPECT_GT(frames, 100);  // ten frames a second for about 12 s
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

// Where the mark goes for each counter: destination x, width, first column of the mark (a
// width of 0: no mark). It grows in from the left, slides 4 pixels a frame and is cut at the
// track's inside, x 378.
using Mark = std::tuple<int, int, int>;
const Mark kMarks[32] = {
    {0, 0, 0},    {259, 4, 18}, {263, 8, 14}, {267, 12, 10}, {271, 16, 6}, {275, 20, 2}, {279, 22, 0},
    {283, 22, 0}, {287, 22, 0}, {291, 22, 0}, {295, 22, 0},  {299, 22, 0}, {303, 22, 0}, {307, 22, 0},
    {311, 22, 0}, {315, 22, 0}, {319, 22, 0}, {323, 22, 0},  {327, 22, 0}, {331, 22, 0}, {335, 22, 0},
    {339, 22, 0}, {343, 22, 0}, {347, 22, 0}, {351, 22, 0},  {355, 22, 0}, {359, 20, 0}, {363, 16, 0},
    {367, 12, 0}, {371, 8, 0},  {375, 4, 0},  {0, 0, 0}};

// The frame after the n-th tick of the animation timer shows counter n % 32: the counter runs
// 0 to 31 and wraps to 0.
TEST_F(PaintingTest, EveryTickMovesTheMarkOnAndTheCounterWrapsFrom31To0) {
  RunRefusal();
  int ticks = 0;
  int frames = 0;
  std::optional<Mark> drawn;  // set after a tick until its frame reaches the window
  for (const sim::CallRecord& r : machine().Calls()) {
    if (r.name == "Message" && r.args[0] == sim::Arg(win::WM_TIMER) && r.args[1] == sim::Arg(0x805)) {
      ++ticks;
      drawn = Mark{0, 0, 0};
    } else if (drawn && r.name == "BitBlt" && r.args[1] == sim::Arg(354)) {
      EXPECT_EQ(r.args[3], sim::Arg(9));
      const auto at = [&](std::size_t i) { return static_cast<int>(r.args[i].Number()); };
      drawn = Mark{at(0), at(2), at(4)};
    } else if (drawn && r.name == "BitBlt" && r.args[3] == sim::Arg(480)) {
      EXPECT_EQ(*drawn, kMarks[ticks % 32]) << "tick " << ticks;
      drawn.reset();
      ++frames;
    }
  }
  EXPECT_GT(frames, 100);
  EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 2);  // the pictures are loaded once for the run
}

// Four frames on a 1024x768 screen, the locale English, Korean, English, English. A frame after
// a change of locale loads that locale's picture and saves the band under the text and the mark
// (rows 300 to 362) from it before drawing anything; every frame starts by restoring that band
// from its own copy. The text goes whole to the row of its locale, centred and clipped to the row
// (310 to 334, or 300 to 324): a text wider than 640 pixels is cut at the picture's edges, one
// with CR LF shows no more than fits into the row, and an empty one draws nothing.
TEST_F(PaintingTest, EachFrameRestoresTheBandAndALocaleChangeReloadsItsPicture) {
  const std::string wide(120, 'W');
  WithBareWindow([&](win::HWND window) {
    ui::FramePictures pictures;
    const std::pair<win::LCID, std::string> frames[] = {
        {0x0409, wide}, {0x0412, "first row\r\nsecond row"}, {0x0409, "text"}, {0x0409, ""}};
    for (const auto& [locale, text] : frames) {
      machine().localeId = locale;
      ui::PaintFrame(window, pictures, 10, text);
    }
  });
  using Row = std::tuple<std::string, int, int, int, int, int, int>;  // source, x, y, cx, cy, sx, sy
  const Row restore{"bitmap 640x63", 0, 300, 640, 63, 0, 0};
  const Row mark{"bitmap 132", 295, 354, 22, 9, 0, 0};
  const auto save = [](const char* picture) { return Row{picture, 0, 0, 640, 63, 0, 300}; };
  const auto show = [](const char* picture) { return Row{picture, 192, 144, 640, 480, 0, 0}; };
  const std::vector<Row> expected = {
      save("bitmap 135"), restore, mark, show("bitmap 135"), save("bitmap 134"), restore, mark, show("bitmap 134"),
      save("bitmap 135"), restore, mark, show("bitmap 135"), restore, mark, show("bitmap 135")};
  std::vector<Row> blits;
  for (const sim::Blit& b : machine().gdi.Blits()) blits.emplace_back(b.source, b.x, b.y, b.cx, b.cy, b.sourceX, b.sourceY);
  EXPECT_EQ(blits, expected);
  EXPECT_TRUE(MatchesSequence(machine().Calls(), {{"LoadBitmapW", {135}}, {"LoadBitmapW", {132}},
                                                  {"LoadBitmapW", {134}}, {"LoadBitmapW", {132}},
                                                  {"LoadBitmapW", {135}}, {"LoadBitmapW", {132}}}));
  const std::pair<std::string, int> texts[] = {{wide, 310}, {"first row\r\nsecond row", 300}, {"text", 310}};
  ASSERT_EQ(machine().gdi.TextsDrawn().size(), std::size(texts));
  for (std::size_t i = 0; i < std::size(texts); ++i) {
    const sim::DrawnText& drawn = machine().gdi.TextsDrawn()[i];
    EXPECT_EQ(drawn.text, texts[i].first);
    EXPECT_EQ(std::tie(drawn.rect.left, drawn.rect.top, drawn.rect.right, drawn.rect.bottom),
              std::make_tuple(0, texts[i].second, 640, texts[i].second + 25));
    EXPECT_EQ(drawn.format, 1u);  // DT_CENTER alone: clipped, one line at the top, no word breaks
    EXPECT_EQ(drawn.color, 0xFFFFFFu);
    EXPECT_EQ(drawn.backgroundMode, 1);  // TRANSPARENT
  }
  EXPECT_EQ(machine().gdi.LiveTotal(), 0);
}

// A picture that cannot be loaded costs that frame its picture, not the run: everything made is
// released and the next frame loads again.
// Whatever step of a frame fails, with every handle valid or not, the next frame starts again
// from nothing: a band saved from a picture that was never selected, or a canvas left with an
// old mark, would otherwise be shown for the rest of the run.
TEST_F(PaintingTest, AFrameThatFailsAnyStepReleasesEverythingAndTheNextFrameStartsAgain) {
  const struct {
    const char* call;
    int occurrence;  // in the first frame: blits are band save, band restore, mark, screen
    int bandSaves;   // the first frame's, if it got that far, and the second frame's
  } cases[] = {{"LoadBitmapW", 1, 1}, {"SelectObject", 1, 2}, {"SelectObject", 2, 2}, {"SelectObject", 3, 1},
               {"BitBlt", 1, 1},      {"BitBlt", 2, 2},       {"BitBlt", 3, 2},       {"BitBlt", 4, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.call) + " " + std::to_string(c.occurrence));
    SetUp();
    machine().FailCall(c.call, {.occurrence = c.occurrence});
    WithBareWindow([&](win::HWND window) {
      ui::FramePictures pictures;
      ui::PaintFrame(window, pictures, 10, "text");
      EXPECT_EQ(machine().gdi.LiveTotal(), 0);
      ui::PaintFrame(window, pictures, 11, "text");
      EXPECT_TRUE(pictures.Complete());
    });
    EXPECT_EQ(machine().CountCalls("LoadBitmapW"), 4);
    // The second frame saved its band again, from the picture it loaded.
    int bandSaves = 0;
    for (const auto& blit : machine().gdi.Blits()) bandSaves += blit.y == 0 && blit.sourceY == 300 ? 1 : 0;
    EXPECT_EQ(bandSaves, c.bandSaves);
  }
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
    machine().windows.Find(window)->rect = win::RECT{0, 0, 161, 101};  // odd: the half pixel goes right and down
    ui::PaintIcon(window, reinterpret_cast<win::HICON>(static_cast<std::uintptr_t>(0x1280)));
  });
  EXPECT_EQ(machine().FirstCall("DrawIcon").Text(), "65 35");
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
