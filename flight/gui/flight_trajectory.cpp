#include "flight/gui/flight_trajectory.h"

#include <QDoubleValidator>

#include "app/gui/error_box.h"
#include "app/gui/number_field.h"
#include "flight/flight_tasks.h"
#include "flight/gui/sensor_movement_details.h"
#include "ui_flight_trajectory.h"

flight_trajectory::flight_trajectory(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::flight_trajectory>()) {
    ui->setupUi(this);
    sensorPage_ = new sensor_movement_details(this);
    sensorPage_->setWindowTitle(QStringLiteral("Scanner Movement"));

    validator = new_number_validator(this);
    ui->PlaneDirection->setValidator(validator);
    ui->PlaneVelocity_2->setValidator(validator);
    ui->Overlap->setValidator(validator);
    ui->MeanElevation->setValidator(validator);

    ui->hoverdetails->setToolTip(QStringLiteral("<img src=':/Resources/flight_trajectory1.jpg' height='400'>"));
}

flight_trajectory::~flight_trajectory() = default;

void flight_trajectory::prepare(double maxHeight, double velocityHint) {
    maxSceneHeight_ = maxHeight;
    ui->MaximumSceneHeight->setText(
        QStringLiteral("Maximum Height of 3D model = %1 m").arg(QString::number(maxHeight, 'g', 6)));
    ui->MeanElevation->setText(QString::number(suggested_flying_height(maxHeight), 'g', 6));
    ui->PlaneVelocity_2->setText(QString::number(suggested_velocity(velocityHint), 'g', 6));
}

FlightParameters flight_trajectory::flightValues() const {
    FlightParameters f;
    f.orientation = ui->PlaneDirection->text().toDouble();
    f.velocity = ui->PlaneVelocity_2->text().toDouble();
    f.overlap = ui->Overlap->text().toDouble();
    f.meanHeight = ui->MeanElevation->text().toDouble();
    return f;
}

void flight_trajectory::read(WizardValues& out) const {
    out.flight = flightValues();
    sensorPage_->read(out.scanner, out.realisticTrajectory, out.trajectoryTerms);
}

void flight_trajectory::on_Cancel_clicked() {
    if (ui->PlaneDirection->text().isEmpty() || ui->PlaneVelocity_2->text().isEmpty() ||
        ui->Overlap->text().isEmpty() || ui->MeanElevation->text().isEmpty()) {
        show_error_box(this, QStringLiteral("One or more entires are left blank!!"));
        return;
    }
    // Then text that only looks like a number ("1,5"), which would read as 0.
    const QString typo = number_fields_refusal({{QStringLiteral("Flight Orientation"), ui->PlaneDirection},
                                                {QStringLiteral("Flight Velocity"), ui->PlaneVelocity_2},
                                                {QStringLiteral("Overlap Percentage"), ui->Overlap},
                                                {QStringLiteral("Mean Flying Height"), ui->MeanElevation}});
    if (!typo.isEmpty()) {
        show_error_box(this, typo);
        return;
    }
    const QString problem = validate_flight_values(flightValues(), maxSceneHeight_);
    if (!problem.isEmpty()) {
        show_error_box(this, problem);
        return;
    }
    close();
    sensorPage_->show();
}
