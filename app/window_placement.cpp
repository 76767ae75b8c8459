#include "app/window_placement.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Moves a rectangle of the dialog's size to lie on the screen where it can.
QPoint clamp_to(const QRect& screen, QPoint at, const QSize& size) {
    at.setX(std::max(screen.left(), std::min(at.x(), screen.right() + 1 - size.width())));
    at.setY(std::max(screen.top(), std::min(at.y(), screen.bottom() + 1 - size.height())));
    return at;
}

std::int64_t covered(const QRect& a, const QRect& b) {
    const QRect both = a.intersected(b);
    return both.isEmpty() ? 0 : std::int64_t(both.width()) * both.height();
}

}  // namespace

QPoint place_clear_of(const QRect& screen, const QRect& keep, const QSize& dialog) {
    const int w = dialog.width(), h = dialog.height();
    const QPoint sides[] = {
        {keep.left(), keep.bottom() + 1},   // below, left-aligned
        {keep.right() + 1, keep.top()},     // right of it
        {keep.left() - w, keep.top()},      // left of it
        {keep.left(), keep.top() - h},      // above it
    };
    for (const QPoint& side : sides) {
        const QPoint at = clamp_to(screen, side, dialog);
        const QRect rect(at, dialog);
        if (screen.contains(rect) && covered(rect, keep) == 0) return at;
    }
    // Nothing fits: try the screen's corners and the clamped sides, keep the
    // one that hides least.
    const QPoint candidates[] = {
        clamp_to(screen, sides[0], dialog), clamp_to(screen, sides[1], dialog),
        clamp_to(screen, sides[2], dialog), clamp_to(screen, sides[3], dialog),
        clamp_to(screen, {screen.left(), screen.bottom()}, dialog),
        clamp_to(screen, {screen.right(), screen.bottom()}, dialog),
        clamp_to(screen, {screen.right(), screen.top()}, dialog),
        clamp_to(screen, screen.topLeft(), dialog),
    };
    QPoint best = candidates[0];
    std::int64_t least = std::numeric_limits<std::int64_t>::max();
    for (const QPoint& at : candidates) {
        const std::int64_t c = covered(QRect(at, dialog), keep);
        if (c < least) {
            least = c;
            best = at;
        }
    }
    return best;
}
