#include "calculator/gui/Calculator.h"

#include <QDoubleValidator>

#include "app/gui/error_box.h"
#include "app/gui/number_field.h"
#include "calculator/calculator.h"
#include "ui_calculator.h"

Calculator::Calculator(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::Calculator>()) {
    ui->setupUi(this);
    validator = new_number_validator(this);
    for (QLineEdit* edit : {ui->MeanElevation, ui->PointDensity, ui->Velocity, ui->FOVAcross, ui->PRF})
        edit->setValidator(validator);
}

Calculator::~Calculator() = default;

void Calculator::on_Calculate_clicked() {
    const CalculatorInput input{ui->FOVAcross->text(), ui->MeanElevation->text(), ui->PointDensity->text(),
                                ui->Velocity->text(), ui->PRF->text()};
    const CalculatorOutcome outcome = calculate_flight_plan(input);
    if (!outcome.error.isEmpty()) {
        show_error_box(this, outcome.error);
        return;
    }
    QLineEdit* target = nullptr;
    switch (outcome.emptyBox) {
        case kFovBox: target = ui->FOVAcross; break;
        case kHeightBox: target = ui->MeanElevation; break;
        case kDensityBox: target = ui->PointDensity; break;
        case kVelocityBox: target = ui->Velocity; break;
        case kPrfBox: target = ui->PRF; break;
        default: return;
    }
    target->setText(outcome.value);
}
