#pragma once
#include "app/progress.h"

#include <QString>
#include <QStringList>
#include <string>
#include <vector>

// Remembers every progress call. `events` holds the bar calls in order
// ("range 0 19", "value 5"), `statuses` the status texts, and `sequence`
// all of them interleaved, statuses as "status <text>".
class RecordingProgress final : public Progress {
public:
    void setRange(int minimum, int maximum) override {
        record("range " + std::to_string(minimum) + " " + std::to_string(maximum));
    }
    void setValue(int value) override {
        record("value " + std::to_string(value));
    }
    void showStatus(const QString& message) override {
        statuses << message;
        sequence.push_back("status " + message.toStdString());
    }

    std::vector<std::string> events;
    QStringList statuses;
    std::vector<std::string> sequence;

private:
    void record(const std::string& event) {
        events.push_back(event);
        sequence.push_back(event);
    }
};
