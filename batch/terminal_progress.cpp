#include "terminal_progress.h"

#include <algorithm>

TerminalProgress::TerminalProgress(std::ostream& out, bool enabled, int barWidth)
    : out_(out), enabled_(enabled), barWidth_(std::max(barWidth, 1)) {}

TerminalProgress::~TerminalProgress() { endStage(); }

void TerminalProgress::beginStage(const std::string& label) {
    endStage();
    label_ = label;
    status_.clear();
    minimum_ = maximum_ = value_ = 0;
    counting_ = false;
    stageStart_ = std::chrono::steady_clock::now();
    draw();
}

void TerminalProgress::endStage() {
    if (lineOpen_) out_ << '\n' << std::flush;
    lineOpen_ = false;
    lastLine_.clear();
}

std::string grouped(std::uint64_t value) {
    std::string digits = std::to_string(value);
    for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return digits;
}

std::string clock_text(double seconds) {
    const std::uint64_t s = seconds > 0 ? static_cast<std::uint64_t>(seconds + 0.5) : 0;
    const std::uint64_t h = s / 3600, m = (s / 60) % 60, rest = s % 60;
    auto two = [](std::uint64_t v) { return (v < 10 ? "0" : "") + std::to_string(v); };
    return h ? std::to_string(h) + ":" + two(m) + ":" + two(rest) : std::to_string(m) + ":" + two(rest);
}

void TerminalProgress::setCount(std::uint64_t done, std::uint64_t total, const std::string& unit) {
    counting_ = true;
    done_ = std::min(done, total);
    total_ = total;
    unit_ = unit;
    draw();
}

void TerminalProgress::setRange(int minimum, int maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    value_ = std::clamp(value_, minimum_, maximum_);
    draw();
}

void TerminalProgress::setValue(int value) {
    value_ = std::clamp(value, minimum_, maximum_);
    draw();
}

void TerminalProgress::showStatus(const QString& message) {
    // The status texts carry leading blanks for the status bar; not here.
    std::string text = message.trimmed().toStdString();
    if (text.size() > 48) text = text.substr(0, 45) + "...";
    status_ = text;
    draw();
}

void TerminalProgress::draw() {
    if (!enabled_ || label_.empty()) return;
    const long long span = static_cast<long long>(maximum_) - minimum_;
    double fraction = span > 0 ? double(value_ - minimum_) / double(span) : 0.0;
    if (counting_) fraction = total_ > 0 ? double(done_) / double(total_) : 0.0;
    const int filled = static_cast<int>(fraction * barWidth_);
    const int percent = static_cast<int>(fraction * 100.0);

    std::string line = label_;
    line.resize(std::max<std::size_t>(label_.size(), 20), ' ');
    line += " [";
    line.append(static_cast<std::size_t>(filled), '#');
    line.append(static_cast<std::size_t>(barWidth_ - filled), '-');
    line += "] ";
    const std::string pct = std::to_string(percent);
    line.append(3 - std::min<std::size_t>(pct.size(), 3), ' ');
    line += pct + "%";
    if (counting_) {
        line += "  " + grouped(done_) + " of " + grouped(total_) + " " + unit_;
        const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - stageStart_).count();
        if (done_ > 0 && done_ < total_) line += ", " + clock_text(elapsed * double(total_ - done_) / double(done_)) + " left";
    } else if (!status_.empty()) {
        line += "  " + status_;
    }
    if (line == lastLine_) return;

    // Blank out what is left of a longer previous line.
    std::string shown = line;
    if (lastLine_.size() > line.size()) shown.append(lastLine_.size() - line.size(), ' ');
    out_ << '\r' << shown << std::flush;
    lastLine_ = line;
    lineOpen_ = true;
}
