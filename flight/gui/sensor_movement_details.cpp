#include "flight/gui/sensor_movement_details.h"

#include <QDoubleValidator>

#include "app/gui/error_box.h"
#include "app/gui/number_field.h"
#include "flight/flight_tasks.h"
#include "flight/gui/real_trajectory.h"
#include "ui_sensor_movement_details.h"

sensor_movement_details::sensor_movement_details(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::sensor_movement_details>()) {
    ui->setupUi(this);
    realPage_ = new real_trajectory(this);
    realPage_->setWindowTitle(QStringLiteral("Realistic Trajectory"));

    ui->ScannerFrequency_3->setToolTip(
        QStringLiteral("e.g. if you choose spherical movement, then one cycle means a 360 degrees rotation"));
    ui->FOValong_3->setEnabled(false);

    validator = new_number_validator(this);
    ui->FOValong_3->setValidator(validator);
    ui->FOV_3->setValidator(validator);
    ui->PRF_3->setValidator(validator);
    ui->Scannerfreq_3->setValidator(validator);
}

sensor_movement_details::~sensor_movement_details() = default;

ScannerParameters sensor_movement_details::scannerValues() const {
    ScannerParameters s;
    s.prf = ui->PRF_3->text().toDouble() * 1000;  // the field holds kHz
    s.scanFrequency = ui->Scannerfreq_3->text().toDouble();
    s.fovAcross = ui->FOV_3->text().toDouble();
    // Read whatever the pattern: only the elliptical scanner uses it.
    s.fovAlong = ui->FOValong_3->text().toDouble();
    s.pattern = static_cast<ScanPattern>(ui->Movementype_3->currentIndex());
    return s;
}

void sensor_movement_details::read(ScannerParameters& scanner, bool& realistic, TrajectoryTerms& terms) const {
    scanner = scannerValues();
    realPage_->read(realistic, terms);
}

void sensor_movement_details::on_Movementype_3_activated(int index) {
    ui->FOValong_3->setEnabled(index == Elliptical);
}

void sensor_movement_details::on_Next_clicked() {
    // All four boxes must hold something, the disabled along-track one too.
    if (ui->PRF_3->text().isEmpty() || ui->Scannerfreq_3->text().isEmpty() || ui->FOV_3->text().isEmpty() ||
        ui->FOValong_3->text().isEmpty()) {
        show_error_box(this, QStringLiteral("One or more entires are left blank!"));
        return;
    }
    // Then text that only looks like a number ("1,5"), which would read as 0.
    const QString typo =
        number_fields_refusal({{QStringLiteral("Pulse Repetition Frequency"), ui->PRF_3},
                               {QStringLiteral("Scanning Frequency"), ui->Scannerfreq_3},
                               {QStringLiteral("Field of View across"), ui->FOV_3},
                               {QStringLiteral("Field of View along flight"), ui->FOValong_3}});
    if (!typo.isEmpty()) {
        show_error_box(this, typo);
        return;
    }
    const QString problem = validate_scanner_values(scannerValues());
    if (!problem.isEmpty()) {
        show_error_box(this, problem);
        return;
    }
    close();
    realPage_->show();
}
