#pragma once
#include <QString>

// How a running task reports: the desktop program shows it on its progress
// bar and status bar, the batch runner on a terminal bar. Tasks call it a
// few dozen times per run, never per item.
class Progress {
public:
    virtual ~Progress() = default;
    // Range of the bar, 0 to the task's number of steps.
    virtual void setRange(int minimum, int maximum) = 0;
    virtual void setValue(int value) = 0;
    // A status-bar message without time-out; an empty text clears it.
    virtual void showStatus(const QString& message) = 0;
};

// Reports nowhere; for callers that do not show progress.
class NullProgress final : public Progress {
public:
    void setRange(int, int) override {}
    void setValue(int) override {}
    void showStatus(const QString&) override {}
};
