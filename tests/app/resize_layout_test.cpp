// The anchor layout's arithmetic and dialog units, against a host that records what it is
// asked to do.
#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "app/dialog_units.h"
#include "app/resize_layout.h"

namespace {

using app::ControlHandle;
using app::CResizeLayout;
using app::LayoutRect;

// A window of controls by identifier; handles are identifier + 1000 (the grip 1).
class FakeHost final : public app::LayoutHost {
  public:
    std::map<int, LayoutRect> controls;
    LayoutRect client{0, 0, 890, 609};
    bool maximized = false;
    bool gripVisible = false;
    LayoutRect gripRect;
    int gripWidth = 17;
    int gripHeight = 15;
    std::vector<std::vector<app::ControlMove>> moveBatches;

    static constexpr ControlHandle kGrip = 1;
    static ControlHandle HandleOf(int id) { return static_cast<ControlHandle>(id + 1000); }

    ControlHandle FindControl(int id) override {
        return controls.count(id) != 0 ? HandleOf(id) : app::kNoControl;
    }
    std::vector<int> ChildControlIds() override {
        std::vector<int> ids;
        for (const auto& [id, rect] : controls) {
            ids.push_back(id);
        }
        return ids;
    }
    LayoutRect ControlRect(ControlHandle control) override {
        return controls.at(static_cast<int>(control) - 1000);
    }
    LayoutRect ClientRect() override { return client; }
    int VerticalScrollBarWidth() override { return gripWidth; }
    int HorizontalScrollBarHeight() override { return gripHeight; }
    ControlHandle CreateSizeGrip(const LayoutRect& rect) override {
        gripRect = rect;
        gripVisible = true;
        return kGrip;
    }
    bool IsMaximized() override { return maximized; }
    bool IsVisible(ControlHandle control) override { return control == kGrip && gripVisible; }
    void SetVisible(ControlHandle control, bool visible) override {
        if (control == kGrip) {
            gripVisible = visible;
        }
    }
    void MoveControls(const std::vector<app::ControlMove>& moves) override {
        moveBatches.push_back(moves);
        for (const app::ControlMove& move : moves) {
            const LayoutRect rect{move.x, move.y, move.x + move.width, move.y + move.height};
            if (move.control == kGrip) {
                gripRect = rect;
            } else {
                controls[static_cast<int>(move.control) - 1000] = rect;
            }
        }
    }
};

// The main window's anchors and its controls at their pixel places for 6 x 13 base units.
struct MainWindowLayout : ::testing::Test {
    FakeHost host;
    CResizeLayout layout;
    const LayoutRect window{100, 80, 990, 689};  // the client area on screen, 890 x 609
    std::map<int, LayoutRect> before;

    void SetUp() override {
        const app::DialogFontMetrics metrics{6, 13};
        const std::map<int, app::DialogRect> templateRects = {
            {1010, {396, 0, 195, 63}},   {1000, {121, 68, 211, 18}},  {1001, {345, 67, 61, 19}},
            {1002, {409, 67, 58, 19}},   {1022, {470, 67, 58, 19}},   {1007, {531, 67, 53, 19}},
            {1003, {2, 89, 155, 266}},   {1004, {160, 89, 428, 101}}, {1016, {162, 203, 14, 11}},
            {1017, {194, 203, 392, 9}},  {1018, {483, 194, 20, 8}},   {1009, {160, 341, 148, 13}},
            {1025, {312, 342, 273, 13}}, {1020, {196, 194, 277, 9}},
        };
        for (const auto& [id, rect] : templateRects) {
            host.controls[id] = app::MapDialogRect(rect, metrics);
        }
        const std::pair<int, std::uint32_t> anchors[] = {
            {1004, 0xD0}, {1010, 0xD0}, {1003, 0x70}, {1009, 0xE0}, {1025, 0xA0},
            {1000, 0xD0}, {1001, 0x90}, {1002, 0x90}, {1007, 0x90}, {1022, 0x90},
            {1016, 0xD0}, {1018, 0xD0}, {1017, 0xD0}};
        for (const auto& [id, flags] : anchors) {
            ASSERT_TRUE(layout.AddAnchor(id, flags));
        }
        layout.Initialise(host, window);
        layout.Apply(window);  // applied once at start: nothing changes
        before = host.controls;
    }

    void ExpectShifted(int id, int dx, int dy, int dw, int dh) {
        SCOPED_TRACE(::testing::Message() << "control " << id);
        const LayoutRect& was = before.at(id);
        const LayoutRect& now = host.controls.at(id);
        EXPECT_EQ(now.left, was.left + dx);
        EXPECT_EQ(now.top, was.top + dy);
        EXPECT_EQ(now.Width(), was.Width() + dw);
        EXPECT_EQ(now.Height(), was.Height() + dh);
    }
};

TEST_F(MainWindowLayout, InitialisationPlacesTheGripAndMovesNothing) {
    EXPECT_TRUE(layout.IsInitialised());
    EXPECT_EQ(layout.EntryCount(), 14u);  // 13 anchors and the grip
    EXPECT_EQ(host.gripRect, (LayoutRect{890 - 17, 609 - 15, 890, 609}));
    EXPECT_TRUE(host.gripVisible);
    const app::AnchorEntry* grip = layout.FindEntry(app::kSizeGripId);
    ASSERT_NE(grip, nullptr);
    EXPECT_EQ(grip->flags, 0xA0u);
    EXPECT_TRUE(host.moveBatches.empty());
    EXPECT_EQ(layout.InitialClientRect(), host.client);
}

TEST_F(MainWindowLayout, WiderBy100) {
    layout.Apply({100, 80, 1090, 689});
    EXPECT_EQ(layout.EdgeMask(), app::kEdgeRight);
    EXPECT_EQ(layout.StepDx(), 100);
    EXPECT_EQ(layout.StepDy(), 0);
    for (int button : {1001, 1002, 1022, 1007}) {
        ExpectShifted(button, 100, 0, 0, 0);
    }
    for (int stretched : {1004, 1000, 1009, 1010, 1016, 1018, 1017}) {
        ExpectShifted(stretched, 0, 0, 100, 0);
    }
    ExpectShifted(1025, 100, 0, 0, 0);
    ExpectShifted(1003, 0, 0, 0, 0);
    ExpectShifted(1020, 0, 0, 0, 0);  // not anchored
    EXPECT_EQ(host.gripRect.left, 890 - 17 + 100);
    // One batch of moves; the tree is not among them.
    ASSERT_EQ(host.moveBatches.size(), 1u);
    for (const app::ControlMove& move : host.moveBatches[0]) {
        EXPECT_NE(move.control, FakeHost::HandleOf(1003));
    }
}

TEST_F(MainWindowLayout, TallerBy50) {
    layout.Apply({100, 80, 990, 739});
    EXPECT_EQ(layout.EdgeMask(), app::kEdgeBottom);
    ExpectShifted(1003, 0, 0, 0, 50);
    ExpectShifted(1009, 0, 50, 0, 0);
    ExpectShifted(1025, 0, 50, 0, 0);
    for (int fixed : {1004, 1001, 1002, 1022, 1007, 1000, 1010}) {
        ExpectShifted(fixed, 0, 0, 0, 0);
    }
    EXPECT_EQ(host.gripRect.top, 609 - 15 + 50);
}

TEST_F(MainWindowLayout, MoveWithoutSizeChangeMovesNothing) {
    layout.Apply({300, 200, 1190, 809});
    EXPECT_EQ(layout.EdgeMask(),
              app::kEdgeLeft | app::kEdgeTop | app::kEdgeRight | app::kEdgeBottom);
    EXPECT_EQ(layout.StepDx(), 0);
    EXPECT_EQ(layout.StepDy(), 0);
    EXPECT_TRUE(host.moveBatches.empty());
    EXPECT_EQ(host.controls, before);
    // The next resize is measured from the moved rectangle.
    layout.Apply({300, 200, 1210, 809});
    ExpectShifted(1001, 20, 0, 0, 0);
}

TEST_F(MainWindowLayout, LeftEdgeDragWidensLikeARightEdgeDrag) {
    layout.Apply({60, 80, 990, 689});
    EXPECT_EQ(layout.EdgeMask(), app::kEdgeLeft);
    ExpectShifted(1001, 40, 0, 0, 0);
    ExpectShifted(1004, 0, 0, 40, 0);
}

TEST_F(MainWindowLayout, MaximiseHidesTheGripAndRestoreShowsIt) {
    host.maximized = true;
    layout.Apply({0, 0, 1920, 1040});
    EXPECT_FALSE(host.gripVisible);
    host.maximized = false;
    layout.Apply(window);
    EXPECT_TRUE(host.gripVisible);
    // Back at the first size, every control is where it started.
    EXPECT_EQ(host.controls, before);
    EXPECT_EQ(layout.TotalDx(), 0);
    EXPECT_EQ(layout.TotalDy(), 0);
}

TEST_F(MainWindowLayout, ChangesAccumulateOverSteps) {
    layout.Apply({100, 80, 1000, 689});
    layout.Apply({100, 80, 1000, 700});
    layout.Apply({100, 80, 1030, 700});
    EXPECT_EQ(layout.TotalDx(), 40);
    EXPECT_EQ(layout.TotalDy(), 11);
    ExpectShifted(1001, 40, 0, 0, 0);
    ExpectShifted(1009, 0, 11, 40, 0);
    ExpectShifted(1003, 0, 0, 0, 11);
}

TEST(ResizeLayout, CentredControlsMoveByHalfStepsWithoutDrift) {
    FakeHost host;
    host.controls[7] = {10, 10, 30, 20};
    CResizeLayout layout;
    layout.AddAnchor(7, 0x00);
    const LayoutRect start{0, 0, 890, 609};
    layout.Initialise(host, start);
    // Three one-pixel steps: 10.5, 11, 11.5 -> truncated 10, 11, 11.
    std::vector<int> lefts;
    for (int step = 1; step <= 3; ++step) {
        layout.Apply({0, 0, 890 + step, 609 + step});
        lefts.push_back(host.controls[7].left);
        EXPECT_EQ(host.controls[7].Width(), 20);
    }
    EXPECT_EQ(lefts, (std::vector<int>{10, 11, 11}));
    EXPECT_DOUBLE_EQ(layout.FindEntry(7)->left, 11.5);
    EXPECT_DOUBLE_EQ(layout.FindEntry(7)->top, 11.5);
}

TEST(ResizeLayout, MissingControlsAreSkippedAndEntriesBeyond256Ignored) {
    FakeHost host;
    host.controls[1] = {0, 0, 10, 10};
    CResizeLayout layout;
    EXPECT_TRUE(layout.AddAnchor(1, 0x90));
    EXPECT_TRUE(layout.AddAnchor(2, 0x90));  // no such control
    for (int id = 3; id <= 256; ++id) {
        EXPECT_TRUE(layout.AddAnchor(id, 0x90));
    }
    EXPECT_FALSE(layout.AddAnchor(257, 0x90));
    EXPECT_EQ(layout.EntryCount(), 256u);
    layout.Initialise(host, {0, 0, 100, 100});
    EXPECT_EQ(layout.EntryCount(), 256u);  // no room left for the grip entry
    EXPECT_EQ(layout.FindEntry(2)->control, app::kNoControl);
    layout.Apply({0, 0, 150, 100});
    ASSERT_EQ(host.moveBatches.size(), 1u);
    ASSERT_EQ(host.moveBatches[0].size(), 1u);
    EXPECT_EQ(host.controls[1], (LayoutRect{50, 0, 60, 10}));
}

TEST(ResizeLayout, AnchorAllChildrenEntersEveryControlOnce) {
    FakeHost host;
    host.controls[1] = {0, 0, 10, 10};
    host.controls[2] = {20, 0, 30, 10};
    CResizeLayout layout;
    layout.AddAnchor(1, 0x90);
    layout.SetAnchorAllChildren(true, 0xC0 | 0x10);
    layout.Initialise(host, {0, 0, 100, 100});
    EXPECT_EQ(layout.EntryCount(), 3u);
    layout.Apply({0, 0, 110, 100});
    EXPECT_EQ(host.controls[1], (LayoutRect{10, 0, 20, 10}));
    EXPECT_EQ(host.controls[2], (LayoutRect{20, 0, 40, 10}));
}

TEST(ResizeLayout, ApplyBeforeInitialiseDoesNothing) {
    CResizeLayout layout;
    layout.Apply({0, 0, 10, 10});
    EXPECT_FALSE(layout.IsInitialised());
    EXPECT_EQ(layout.StepDx(), 0);
}

TEST(PreviewPane, RectangleForA1000By700ClientArea) {
    const LayoutRect pane = app::PreviewPaneRect(1000, 700);
    EXPECT_EQ(pane.left, 240);
    EXPECT_EQ(pane.top, 380);
    EXPECT_EQ(pane.Width(), 750);
    EXPECT_EQ(pane.Height(), 258);
    EXPECT_EQ(app::PreviewPaneRect(1000, 700, {6, 13}), pane);
}

TEST(PreviewPane, KeepsBesideTheTreeForWiderFonts) {
    // 7 x 15 base units: the list (and so the pane) starts at 160 units = 280 pixels, and the
    // tree ends at 157 units = 275 pixels.
    const app::DialogFontMetrics metrics{7, 15};
    const LayoutRect pane = app::PreviewPaneRect(1200, 800, metrics);
    EXPECT_EQ(pane.left, app::DialogUnitsToPixelsX(160, metrics));
    EXPECT_GT(pane.left, app::DialogUnitsToPixelsX(2 + 155, metrics));
    EXPECT_EQ(pane.top, 438);          // 380 * 15 / 13
    EXPECT_EQ(pane.right, 1200 - 12);  // 10 * 7 / 6 = 11.67
    EXPECT_EQ(pane.bottom, 800 - 72);  // 62 * 15 / 13 = 71.5
}

TEST(DialogUnits, ConvertByTheFontsBaseUnitsWithRounding) {
    const app::DialogFontMetrics metrics{6, 13};
    EXPECT_EQ(app::DialogUnitsToPixelsX(593, metrics), 890);  // 889.5
    EXPECT_EQ(app::DialogUnitsToPixelsY(375, metrics), 609);  // 609.375
    // Browse: x 345, y 67, 61 x 19 -> edges 517.5, 108.875, 609, 139.75.
    EXPECT_EQ(app::MapDialogRect({345, 67, 61, 19}, metrics), (LayoutRect{518, 109, 609, 140}));
    // Adjacent templates stay adjacent: the right banner begins where the left one ends.
    EXPECT_EQ(app::MapDialogRect({1, 0, 395, 63}, metrics).right,
              app::MapDialogRect({396, 0, 195, 63}, metrics).left);
    const app::DialogFontMetrics wide{7, 15};
    EXPECT_EQ(app::MapDialogRect({2, 89, 155, 266}, wide), (LayoutRect{4, 167, 275, 666}));
}

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(app::MulDiv(5, 1, 2), 3);
    EXPECT_EQ(app::MulDiv(-5, 1, 2), -3);
    EXPECT_EQ(app::MulDiv(5, -1, 2), -3);
    EXPECT_EQ(app::MulDiv(7, 1, 4), 2);
    EXPECT_EQ(app::MulDiv(1 << 30, 8, 4), -1);  // does not fit in an int
    EXPECT_EQ(app::MulDiv(3, 4, 0), 0);
}

TEST(DialogUnits, AverageWidthFromTheAlphabet) {
    EXPECT_EQ(app::AverageCharWidthFromAlphabet(312), 6);  // 6.0 per letter
    EXPECT_EQ(app::AverageCharWidthFromAlphabet(338), 7);  // 6.5 rounds up
    EXPECT_EQ(app::AverageCharWidthFromAlphabet(337), 6);  // just below 6.5
}

}  // namespace
