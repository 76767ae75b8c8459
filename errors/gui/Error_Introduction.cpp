#include "errors/gui/Error_Introduction.h"

#include <QDoubleValidator>

#include "app/gui/error_box.h"
#include "app/gui/number_field.h"
#include "errors/error_tasks.h"
#include "ui_error_introduction.h"

namespace {

void set_enabled(const QList<QLineEdit*>& edits, bool enabled) {
    for (QLineEdit* edit : edits) edit->setEnabled(enabled);
}

bool any_blank(const QList<QLineEdit*>& edits) {
    for (const QLineEdit* edit : edits)
        if (edit->text().isEmpty()) return true;
    return false;
}

std::vector<double> values_of(const QList<QLineEdit*>& edits) {
    std::vector<double> values;
    values.reserve(static_cast<std::size_t>(edits.size()));
    for (const QLineEdit* edit : edits) values.push_back(edit->text().toDouble());
    return values;
}

// The first field of the checked groups whose text only looks like a number.
QString typo_in(const QString& group, const QList<QLineEdit*>& edits) {
    static const char* const kNames[] = {"X", "Y", "Z", "Roll", "Pitch", "Yaw", "Range"};
    for (int i = 0; i < edits.size(); ++i) {
        const QString typo = number_fields_refusal({{group + QLatin1Char(' ') + QLatin1String(kNames[i]), edits[i]}});
        if (!typo.isEmpty()) return typo;
    }
    return QString();
}

const QString kBlankMessage = QStringLiteral("One or more entires are left blank!");

}  // namespace

Error_Introduction::Error_Introduction(QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::Error_Introduction>()) {
    ui->setupUi(this);
    validator = new_number_validator(this);
    for (const auto& group : {systematicEdits(), randomEdits(), overallEdits()}) {
        for (QLineEdit* edit : group) {
            edit->setValidator(validator);
            edit->setEnabled(false);
        }
    }
}

Error_Introduction::~Error_Introduction() = default;

QList<QLineEdit*> Error_Introduction::systematicEdits() const {
    return {ui->X_sys, ui->Y_sys, ui->Z_sys, ui->Roll_sys, ui->Pitch_sys, ui->Yaw_sys, ui->Range_sys};
}

QList<QLineEdit*> Error_Introduction::randomEdits() const {
    return {ui->X_ran, ui->Y_ran, ui->Z_ran, ui->Roll_ran, ui->Pitch_ran, ui->Yaw_ran, ui->Range_ran};
}

QList<QLineEdit*> Error_Introduction::overallEdits() const {
    return {ui->X_Overall, ui->Y_Overall, ui->Z_Overall};
}

bool Error_Introduction::systematicChecked() const { return ui->Sys_checkbox->isChecked(); }
bool Error_Introduction::randomChecked() const { return ui->Ran_checkbox->isChecked(); }
bool Error_Introduction::overallChecked() const { return ui->Overall_checkbox->isChecked(); }

// Each box slot runs on every change of its box, also when another slot
// unchecks it. So checking "Overall Error" while "Systematic Error" is on
// unchecks Systematic, whose slot unchecks Overall again: all end unchecked.
// That chain is how the dialog has always behaved; keep it.
void Error_Introduction::on_Sys_checkbox_toggled(bool checked) {
    set_enabled(systematicEdits(), checked);
    ui->Overall_checkbox->setChecked(false);
}

void Error_Introduction::on_Ran_checkbox_toggled(bool checked) {
    set_enabled(randomEdits(), checked);
    ui->Overall_checkbox->setChecked(false);
}

void Error_Introduction::on_Overall_checkbox_toggled(bool checked) {
    set_enabled(overallEdits(), checked);
    ui->Sys_checkbox->setChecked(false);
    ui->Ran_checkbox->setChecked(false);
}

void Error_Introduction::on_pushButton_2_clicked() {
    // Blanks are the dialog's own check; the value rules (no negative
    // standard deviation; offsets may be negative) are shared with the
    // batch runner.
    if (overallChecked()) {
        if (any_blank(overallEdits())) {
            show_error_box(this, kBlankMessage);
            return;
        }
    } else if ((systematicChecked() && any_blank(systematicEdits())) ||
               (randomChecked() && any_blank(randomEdits()))) {
        show_error_box(this, kBlankMessage);
        return;
    }
    // Then text that only looks like a number ("1,5"), which would read as 0.
    QString typo;
    if (overallChecked()) {
        typo = typo_in(QStringLiteral("Overall Error"), overallEdits());
    } else {
        if (systematicChecked()) typo = typo_in(QStringLiteral("Systematic Error"), systematicEdits());
        if (typo.isEmpty() && randomChecked()) typo = typo_in(QStringLiteral("Random Error"), randomEdits());
    }
    if (!typo.isEmpty()) {
        show_error_box(this, typo);
        return;
    }
    const QString problem = validate_error_settings(read_error_settings(*this));
    if (!problem.isEmpty()) {
        show_error_box(this, problem);
        return;
    }
    emit successfully_ran();
    close();
}

ErrorSettings read_error_settings(const Error_Introduction& dialog) {
    ErrorSettings s;
    s.overallOn = dialog.overallChecked();
    s.randomOn = dialog.randomChecked();
    s.systematicOn = dialog.systematicChecked();
    if (s.systematicOn) s.systematic = values_of(dialog.systematicEdits());
    if (s.randomOn) s.random = values_of(dialog.randomEdits());
    if (s.overallOn) s.overall = values_of(dialog.overallEdits());
    return s;
}
