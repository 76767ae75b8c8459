#pragma once
#include <chrono>
#include <cstdint>
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

    // Shows the stage as a count of `total` (the bar and percentage follow
    // it) with the time left, estimated from the rate since the stage
    // began: "12,345 of 100,000 pulses, 1:23 left".
    void setCount(std::uint64_t done, std::uint64_t total, const std::string& unit);

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
    bool counting_ = false;
    std::uint64_t done_ = 0, total_ = 0;
    std::string unit_;
    std::chrono::steady_clock::time_point stageStart_;
};

// 1234567 as "1,234,567".
std::string grouped(std::uint64_t value);
// Seconds as "m:ss", or "h:mm:ss" from an hour on.
std::string clock_text(double seconds);
