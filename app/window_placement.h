#pragma once
#include <QPoint>
#include <QRect>
#include <QSize>

// Where a dialog of frame size `dialog` opens on `screen` (the available
// area) so that it hides as little as possible of `keepVisible` (the log and
// the progress bar): the first of below, right of, left of and above it that
// fits on the screen without covering it; failing all four, the place on the
// screen that covers the least of it (nearest the top-left on a tie).
QPoint place_clear_of(const QRect& screen, const QRect& keepVisible, const QSize& dialog);
