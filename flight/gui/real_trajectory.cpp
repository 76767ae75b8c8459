#include "flight/gui/real_trajectory.h"

#include <QDoubleValidator>

#include "app/gui/error_box.h"
#include "app/gui/number_field.h"
#include "ui_real_trajectory.h"

real_trajectory::real_trajectory(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::real_trajectory>()), terms(6, std::vector<double>(4, 0.0)) {
    ui->setupUi(this);
    ui->RealTrajectory->setToolTip(QStringLiteral("All the variables will be considered zero if not checked"));
    ui->hoverdetails->setToolTip(QStringLiteral("<img src=':/Resources/real_trajectory.gif' height='400'>"));
    ui->groupBox->setEnabled(false);
    ui->groupBox_2->setEnabled(false);

    validator = new_number_validator(this);
    for (const auto& set : termEdits())
        for (QLineEdit* edit : set) edit->setValidator(validator);
}

real_trajectory::~real_trajectory() = default;

std::array<std::array<QLineEdit*, 4>, 6> real_trajectory::termEdits() const {
    return {{
        {ui->Ax, ui->Bx, ui->Cx, ui->Dx},
        {ui->Ay, ui->By, ui->Cy, ui->Dy},
        {ui->Az, ui->Bz, ui->Cz, ui->Dz},
        {ui->Ax_2, ui->Bx_2, ui->Cx_2, ui->Dx_2},
        {ui->Ay_2, ui->By_2, ui->Cy_2, ui->Dy_2},
        {ui->Az_2, ui->Bz_2, ui->Cz_2, ui->Dz_2},
    }};
}

void real_trajectory::read(bool& realisticOut, TrajectoryTerms& termsOut) const {
    realisticOut = realistic;
    termsOut = terms;
}

void real_trajectory::on_RealTrajectory_clicked(bool checked) {
    realistic = checked;
    ui->groupBox->setEnabled(checked);
    ui->groupBox_2->setEnabled(checked);
}

void real_trajectory::on_pushButton_clicked() {
    // The boxes are only taken over while the switch is on; otherwise the
    // terms stored by an earlier "Done" stay as they are. There is no check:
    // a blank or unfinished number reads as 0. Text that only looks like a
    // number ("0,5") is refused rather than read as 0.
    if (realistic) {
        const auto edits = termEdits();
        static const char* const kSets[] = {"x", "y", "z", "roll", "pitch", "yaw"};
        for (std::size_t set = 0; set < edits.size(); ++set) {
            for (std::size_t k = 0; k < 4; ++k) {
                const QString name = QStringLiteral("Term ") + QLatin1Char(static_cast<char>('A' + k)) +
                                     QStringLiteral(" of ") + QLatin1String(kSets[set]);
                const QString typo = number_fields_refusal({{name, edits[set][k]}});
                if (!typo.isEmpty()) {
                    show_error_box(this, typo);
                    return;
                }
            }
        }
        for (std::size_t set = 0; set < edits.size(); ++set)
            for (std::size_t k = 0; k < 4; ++k) terms[set][k] = edits[set][k]->text().toDouble();
    }
    emit successfully_ran();
    close();
}
