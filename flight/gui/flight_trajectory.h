#pragma once
#include <QDialog>
#include <memory>

#include "flight/parameters.h"

class QDoubleValidator;
class sensor_movement_details;
namespace Ui {
class flight_trajectory;
}

// First page of the "Scanner and Flight details" wizard: the flight itself.
// Owns the scanner page, which owns the realistic-trajectory page.
class flight_trajectory : public QDialog {
    Q_OBJECT

public:
    explicit flight_trajectory(QWidget* parent = nullptr);
    ~flight_trajectory() override;

    // Called each time the wizard is opened: shows the model top and
    // suggests a flying height above it and a velocity for the model's size.
    void prepare(double maxHeight, double velocityHint);

    // The values of all three pages.
    void read(WizardValues& out) const;
    FlightParameters flightValues() const;

    sensor_movement_details* sensorPage() const { return sensorPage_; }
    double maxSceneHeight() const { return maxSceneHeight_; }

public slots:
    // The button is named Cancel but reads "Next".
    void on_Cancel_clicked();

private:
    std::unique_ptr<Ui::flight_trajectory> ui;
    QDoubleValidator* validator = nullptr;
    sensor_movement_details* sensorPage_ = nullptr;
    double maxSceneHeight_ = 0.0;
};
