#pragma once
#include "app/progress.h"

class QProgressBar;
class QStatusBar;

// Laser generation reports progress as doubles; the bar takes them
// truncated toward zero (2.9 shows as 2). Values beyond the int range are
// clamped and NaN counts as 0.
int truncate_progress(double value);

// Progress shown on the main window: the progress bar and the status bar.
// Tasks run on the GUI thread and block the event loop, so every change is
// painted at once instead of waiting for the loop.
class BarProgress final : public Progress {
public:
    BarProgress(QProgressBar* bar, QStatusBar* status);

    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    void showStatus(const QString& message) override;

private:
    QProgressBar* bar_;
    QStatusBar* status_;
};
