#pragma once
#include <ostream>
#include <string>

#include "app/progress.h"

// A text progress bar for a terminal: one line per stage, redrawn in place
// with a carriage return, e.g.
//   Casting lasers       [##############----------]  58%  LiDAR data generated..
// Redraws only when the drawn text changes, so a task may report as often
// as it likes. A disabled bar draws nothing.
class TerminalProgress final : public Progress {
public:
    TerminalProgress(std::ostream& out, bool enabled, int barWidth = 30);
    ~TerminalProgress() override;

    // Starts a new line for a stage; ends the previous one.
    void beginStage(const std::string& label);
    // Ends the current line (nothing when nothing was drawn).
    void endStage();

    void setRange(int minimum, int maximum) override;
    void setValue(int value) override;
    void showStatus(const QString& message) override;

private:
    void draw();

    std::ostream& out_;
    bool enabled_;
    int barWidth_;
    std::string label_;
    std::string status_;
    int minimum_ = 0, maximum_ = 0, value_ = 0;
    std::string lastLine_;
    bool lineOpen_ = false;
};
