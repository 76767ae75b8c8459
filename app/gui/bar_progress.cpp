#include "app/gui/bar_progress.h"

#include <QProgressBar>
#include <QStatusBar>
#include <cmath>
#include <limits>

int truncate_progress(double value) {
    if (std::isnan(value)) return 0;
    constexpr double lowest = std::numeric_limits<int>::min();
    constexpr double highest = std::numeric_limits<int>::max();
    if (value <= lowest) return std::numeric_limits<int>::min();
    if (value >= highest) return std::numeric_limits<int>::max();
    return static_cast<int>(value);  // toward zero
}

BarProgress::BarProgress(QProgressBar* bar, QStatusBar* status) : bar_(bar), status_(status) {}

void BarProgress::setRange(int minimum, int maximum) {
    bar_->setRange(minimum, maximum);
    if (bar_->isVisible()) bar_->repaint();
}

void BarProgress::setValue(int value) {
    bar_->setValue(value);
    // setValue only schedules a repaint for small changes; the event loop is
    // blocked while a task runs, so paint now.
    if (bar_->isVisible()) bar_->repaint();
}

void BarProgress::showStatus(const QString& message) {
    if (message.isEmpty())
        status_->clearMessage();
    else
        status_->showMessage(message);
    if (status_->isVisible()) status_->repaint();
}
