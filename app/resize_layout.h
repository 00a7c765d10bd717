// The anchor layout of the main window: each anchored control follows the window's edges by
// its flags when the window is resized, and a size grip sits in the bottom-right corner.
// The arithmetic is here; the window system is reached through LayoutHost.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "app/dialog_units.h"

namespace app {

// Horizontal anchor flags (mask 0xC0): how a control follows a change of the window's width.
inline constexpr std::uint32_t kAnchorHorizontalMask = 0xC0;
inline constexpr std::uint32_t kAnchorLeft = 0x40;       // keeps left edge and width
inline constexpr std::uint32_t kAnchorRight = 0x80;      // moves with the right edge
inline constexpr std::uint32_t kAnchorLeftRight = 0xC0;  // stretches with the right edge
// Vertical anchor flags (mask 0x30).
inline constexpr std::uint32_t kAnchorVerticalMask = 0x30;
inline constexpr std::uint32_t kAnchorTop = 0x10;        // keeps top edge and height
inline constexpr std::uint32_t kAnchorBottom = 0x20;     // moves with the bottom edge
inline constexpr std::uint32_t kAnchorTopBottom = 0x30;  // stretches with the bottom edge
// Neither bit of a part set: the control stays centred on that axis.

// Edge-change mask bits of one resize step.
inline constexpr std::uint32_t kEdgeLeft = 0x40;
inline constexpr std::uint32_t kEdgeTop = 0x10;
inline constexpr std::uint32_t kEdgeRight = 0x80;
inline constexpr std::uint32_t kEdgeBottom = 0x20;

// An opaque window handle of the host; 0 is no window.
using ControlHandle = std::uintptr_t;
inline constexpr ControlHandle kNoControl = 0;

// Identifier under which the size grip is entered.
inline constexpr int kSizeGripId = -1;

struct ControlMove {
    ControlHandle control = kNoControl;
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// What the layout needs from the window it arranges.
class LayoutHost {
  public:
    virtual ~LayoutHost() = default;
    // The child control with this identifier, or kNoControl.
    virtual ControlHandle FindControl(int id) = 0;
    // Identifiers of every child control, for the add-all-children switch.
    virtual std::vector<int> ChildControlIds() = 0;
    // A control's rectangle in client coordinates.
    virtual LayoutRect ControlRect(ControlHandle control) = 0;
    virtual LayoutRect ClientRect() = 0;
    // Width of a vertical and height of a horizontal scroll bar: the size grip's size.
    virtual int VerticalScrollBarWidth() = 0;
    virtual int HorizontalScrollBarHeight() = 0;
    // Creates a visible size grip at rect, on top of its siblings.
    virtual ControlHandle CreateSizeGrip(const LayoutRect& rect) = 0;
    virtual bool IsMaximized() = 0;
    virtual bool IsVisible(ControlHandle control) = 0;
    virtual void SetVisible(ControlHandle control, bool visible) = 0;
    // Moves and sizes every listed control at once, without changing their stacking order.
    virtual void MoveControls(const std::vector<ControlMove>& moves) = 0;
};

// One anchored control. Positions are kept in floating point so that the half steps of a
// centred control add up without drift; they are truncated only when the control is moved.
struct AnchorEntry {
    int id = 0;
    std::uint32_t flags = 0;
    double top = 0;
    double left = 0;
    double right = 0;
    double bottom = 0;
    ControlHandle control = kNoControl;
};

class CResizeLayout {
  public:
    static constexpr std::size_t kMaxEntries = 256;

    // Enters a control before Initialise; false (and ignored) beyond the 256th entry.
    bool AddAnchor(int id, std::uint32_t flags);

    // When on, Initialise enters every child control not yet entered, with these flags.
    void SetAnchorAllChildren(bool on, std::uint32_t flags);

    // Records the window and client rectangles, looks the anchored controls up, creates the
    // size grip and enters it as following the right and bottom edges.
    void Initialise(LayoutHost& host, const LayoutRect& windowRect);

    // One resize step to the window's new rectangle (screen coordinates).
    void Apply(const LayoutRect& newWindowRect);

    bool IsInitialised() const { return initialised_; }
    std::uint32_t EdgeMask() const { return edgeMask_; }
    int TotalDx() const { return totalDx_; }
    int TotalDy() const { return totalDy_; }
    int StepDx() const { return stepDx_; }
    int StepDy() const { return stepDy_; }
    const LayoutRect& WindowRect() const { return lastRect_; }
    const LayoutRect& InitialClientRect() const { return clientRect_; }
    ControlHandle SizeGrip() const { return grip_; }
    std::size_t EntryCount() const { return count_; }
    const AnchorEntry& Entry(std::size_t index) const { return entries_.at(index); }
    // The entry of a control identifier, or nullptr.
    const AnchorEntry* FindEntry(int id) const;

  private:
    bool AddEntry(int id, std::uint32_t flags);

    LayoutHost* host_ = nullptr;
    LayoutRect lastRect_;
    LayoutRect newRect_;
    LayoutRect clientRect_;
    bool initialised_ = false;
    std::uint32_t edgeMask_ = 0;
    int totalDx_ = 0;
    int totalDy_ = 0;
    int stepDx_ = 0;
    int stepDy_ = 0;
    std::size_t count_ = 0;
    std::array<AnchorEntry, kMaxEntries> entries_{};
    bool anchorAllChildren_ = false;
    std::uint32_t allChildrenFlags_ = 0;
    ControlHandle grip_ = kNoControl;
};

// The base units the main window's pixel placements were laid out for.
inline constexpr DialogFontMetrics kReferenceFontMetrics{6, 13};

// Where the main window puts its preview pane for a client area of cx by cy pixels: at
// x 240, y 380, cx - 250 wide and cy - 442 high for the reference base units. For other base
// units the margins scale with them, so that the pane keeps its place beside the folder tree
// and below the item labels.
LayoutRect PreviewPaneRect(int clientWidth, int clientHeight,
                           const DialogFontMetrics& metrics = kReferenceFontMetrics);

}  // namespace app
