#pragma once
#include "app/progress.h"

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// Remembers every progress call in order, as "range 0 19", "value 5" and
// "status <text>".
class RecordingProgress final : public Progress {
public:
    void setRange(int minimum, int maximum) override {
        events.push_back("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void setValue(int value) override {
        events.push_back("value " + std::to_string(value));
        values.push_back(value);
    }
    void showStatus(const QString& message) override { statuses << message; }

    std::vector<std::string> events;
    std::vector<int> values;
    QStringList statuses;
};
