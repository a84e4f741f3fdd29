#include "app/windowplacement.h"

#include <gtest/gtest.h>

using corvane::app::fitOnScreen;

namespace {

struct Placement
{
    const char* name;
    QRect wanted;
    QRect available;
    QRect expected;
};

class FitOnScreen : public testing::TestWithParam<Placement>
{
};

const QMargins kFrame(4, 30, 4, 4);

} // namespace

TEST_P(FitOnScreen, KeepsTheFramedWindowInsideTheFreeArea)
{
    const Placement& p = GetParam();
    const QRect placed = fitOnScreen(p.wanted, p.available, kFrame);
    EXPECT_EQ(placed, p.expected);
    // The frame's top-left is the position; the title bar and borders lie around the size.
    const QRect framed(placed.topLeft(), placed.size().grownBy(kFrame));
    EXPECT_TRUE(p.available.contains(framed));
}

INSTANTIATE_TEST_SUITE_P(
    Screens, FitOnScreen,
    testing::Values(
        // 1600 x 1000: the window keeps its size and its centred place.
        Placement{"fits", QRect(310, 140, 980, 600), QRect(0, 0, 1600, 1000), QRect(310, 140, 980, 600)},
        // Scale 2 on 1600 x 1000 (800 x 500 logical), centred to a negative place: the whole
        // screen, title bar included.
        Placement{"scaled", QRect(-90, -50, 980, 600), QRect(0, 0, 800, 500), QRect(0, 0, 792, 466)},
        // A panel above and a narrow screen: only the width shrinks, the top follows the panel.
        Placement{"panel", QRect(100, 0, 980, 600), QRect(0, 40, 900, 1000), QRect(0, 40, 892, 600)},
        // Fits in size but hangs over the right and bottom edges: moved back in.
        Placement{"overhang", QRect(700, 500, 980, 600), QRect(0, 0, 1600, 1000), QRect(612, 366, 980, 600)},
        // A second screen to the left of the primary one.
        Placement{"offset", QRect(-1200, 10, 980, 600), QRect(-1280, 0, 1280, 1024),
                  QRect(-1200, 10, 980, 600)}),
    [](const testing::TestParamInfo<Placement>& placement) { return std::string(placement.param.name); });
