#pragma once
#include "app/progress.h"

#include <string>
#include <vector>

// Remembers every progress call in order, as "range a b", "value v" and
// "status text".
class RecordingProgress final : public Progress {
public:
    void setRange(int minimum, int maximum) override {
        events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void setValue(int value) override {
        events.push_back("value " + std::to_string(value));
        values.push_back(value);
    }
    void showStatus(const QString& message) override { events.push_back("status " + message.toStdString()); }

    std::vector<std::string> events;
    std::vector<int> values;
};
