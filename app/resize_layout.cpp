#include "app/resize_layout.h"

namespace app {

namespace {

// Applies one axis rule to the pair of edges (low, high); true when they changed.
bool ApplyAxis(std::uint32_t part, std::uint32_t keep, std::uint32_t follow, std::uint32_t stretch,
               int delta, double& low, double& high) {
    if (part == keep) {
        return false;
    }
    if (part == follow) {
        low += delta;
        high += delta;
    } else if (part == stretch) {
        high += delta;
    } else {
        low += delta / 2.0;
        high += delta / 2.0;
    }
    return true;
}

}  // namespace

bool CResizeLayout::AddEntry(int id, std::uint32_t flags) {
    if (count_ >= kMaxEntries) {
        return false;
    }
    AnchorEntry& entry = entries_[count_++];
    entry = AnchorEntry{};
    entry.id = id;
    entry.flags = flags;
    return true;
}

bool CResizeLayout::AddAnchor(int id, std::uint32_t flags) {
    return AddEntry(id, flags);
}

void CResizeLayout::SetAnchorAllChildren(bool on, std::uint32_t flags) {
    anchorAllChildren_ = on;
    allChildrenFlags_ = flags;
}

const AnchorEntry* CResizeLayout::FindEntry(int id) const {
    for (std::size_t i = 0; i < count_; ++i) {
        if (entries_[i].id == id) {
            return &entries_[i];
        }
    }
    return nullptr;
}

void CResizeLayout::Initialise(LayoutHost& host, const LayoutRect& windowRect) {
    host_ = &host;
    lastRect_ = windowRect;
    newRect_ = windowRect;
    clientRect_ = host.ClientRect();

    if (anchorAllChildren_) {
        for (int id : host.ChildControlIds()) {
            if (FindEntry(id) == nullptr) {
                AddEntry(id, allChildrenFlags_);
            }
        }
    }

    for (std::size_t i = 0; i < count_; ++i) {
        AnchorEntry& entry = entries_[i];
        entry.control = host.FindControl(entry.id);
        if (entry.control == kNoControl) {
            continue;
        }
        const LayoutRect rect = host.ControlRect(entry.control);
        entry.left = rect.left;
        entry.top = rect.top;
        entry.right = rect.right;
        entry.bottom = rect.bottom;
    }

    const int gripWidth = host.VerticalScrollBarWidth();
    const int gripHeight = host.HorizontalScrollBarHeight();
    const LayoutRect gripRect{clientRect_.right - gripWidth, clientRect_.bottom - gripHeight,
                              clientRect_.right, clientRect_.bottom};
    grip_ = host.CreateSizeGrip(gripRect);
    if (grip_ != kNoControl && AddEntry(kSizeGripId, kAnchorRight | kAnchorBottom)) {
        AnchorEntry& entry = entries_[count_ - 1];
        entry.control = grip_;
        entry.left = gripRect.left;
        entry.top = gripRect.top;
        entry.right = gripRect.right;
        entry.bottom = gripRect.bottom;
    }
    initialised_ = true;
}

void CResizeLayout::Apply(const LayoutRect& newWindowRect) {
    if (!initialised_ || host_ == nullptr) {
        return;
    }
    newRect_ = newWindowRect;
    edgeMask_ = 0;
    if (newRect_.left != lastRect_.left) {
        edgeMask_ |= kEdgeLeft;
    }
    if (newRect_.top != lastRect_.top) {
        edgeMask_ |= kEdgeTop;
    }
    if (newRect_.right != lastRect_.right) {
        edgeMask_ |= kEdgeRight;
    }
    if (newRect_.bottom != lastRect_.bottom) {
        edgeMask_ |= kEdgeBottom;
    }
    stepDx_ = newRect_.Width() - lastRect_.Width();
    stepDy_ = newRect_.Height() - lastRect_.Height();
    totalDx_ += stepDx_;
    totalDy_ += stepDy_;

    if (grip_ != kNoControl) {
        if (host_->IsMaximized()) {
            host_->SetVisible(grip_, false);
        } else if (!host_->IsVisible(grip_)) {
            host_->SetVisible(grip_, true);
        }
    }

    std::vector<ControlMove> moves;
    moves.reserve(count_);
    const bool horizontal = (edgeMask_ & (kEdgeLeft | kEdgeRight)) != 0 && stepDx_ != 0;
    const bool vertical = (edgeMask_ & (kEdgeTop | kEdgeBottom)) != 0 && stepDy_ != 0;
    for (std::size_t i = 0; i < count_; ++i) {
        AnchorEntry& entry = entries_[i];
        if (entry.control == kNoControl) {
            continue;
        }
        bool changed = false;
        if (horizontal) {
            changed |= ApplyAxis(entry.flags & kAnchorHorizontalMask, kAnchorLeft, kAnchorRight,
                                 kAnchorLeftRight, stepDx_, entry.left, entry.right);
        }
        if (vertical) {
            changed |= ApplyAxis(entry.flags & kAnchorVerticalMask, kAnchorTop, kAnchorBottom,
                                 kAnchorTopBottom, stepDy_, entry.top, entry.bottom);
        }
        if (changed) {
            moves.push_back(ControlMove{entry.control, static_cast<int>(entry.left),
                                        static_cast<int>(entry.top),
                                        static_cast<int>(entry.right - entry.left),
                                        static_cast<int>(entry.bottom - entry.top)});
        }
    }
    if (!moves.empty()) {
        host_->MoveControls(moves);
    }
    lastRect_ = newRect_;
}

LayoutRect PreviewPaneRect(int clientWidth, int clientHeight, const DialogFontMetrics& metrics) {
    constexpr int kLeft = 240;
    constexpr int kTop = 380;
    constexpr int kRightMargin = 10;   // 240 + (cx - 250) = cx - 10
    constexpr int kBottomMargin = 62;  // 380 + (cy - 442) = cy - 62
    const int refWidth = kReferenceFontMetrics.averageCharWidth;
    const int refHeight = kReferenceFontMetrics.charHeight;
    return LayoutRect{MulDiv(kLeft, metrics.averageCharWidth, refWidth),
                      MulDiv(kTop, metrics.charHeight, refHeight),
                      clientWidth - MulDiv(kRightMargin, metrics.averageCharWidth, refWidth),
                      clientHeight - MulDiv(kBottomMargin, metrics.charHeight, refHeight)};
}

}  // namespace app
